# Warnings are errors when the build asks for it (CI does); sanitizers come in
# through CMAKE_CXX_FLAGS so every package of the workspace shares them.
option(KESTRUNE_WERROR "Treat warnings as errors" OFF)

function(kestrune_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(KESTRUNE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
