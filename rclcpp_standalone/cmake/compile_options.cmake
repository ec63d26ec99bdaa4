# Warnings are errors when the build asks for it (CI does); sanitizers come in
# through CMAKE_CXX_FLAGS so every package of the workspace shares them. Only
# our C++ is held to them: the C that idlc generates is compiled as it comes.
option(KESTRUNE_WERROR "Treat warnings as errors" OFF)

function(rclcpp_standalone_warnings target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic>)
  if(KESTRUNE_WERROR)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Werror>)
  endif()
endfunction()
