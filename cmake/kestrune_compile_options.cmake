# The compile options every package of the repository shares.
#
#   KESTRUNE_WERROR    ON: warnings are errors (CI builds so)
#   KESTRUNE_SANITIZE  empty (default), address (AddressSanitizer together with
#                      UndefinedBehaviorSanitizer) or thread (ThreadSanitizer)
#
# Sanitizers apply to everything the package compiles and links, generated C
# included; KESTRUNE_SANITIZER_FLAGS holds them for builds started from here
# (the downstream package test). kestrune_warnings(target) holds a target's own
# C++ to the warnings; generated C is compiled as it comes.
option(KESTRUNE_WERROR "Treat warnings as errors" OFF)
set(KESTRUNE_SANITIZE "" CACHE STRING "Sanitizers: empty for none, address or thread")
set_property(CACHE KESTRUNE_SANITIZE PROPERTY STRINGS "" address thread)

if(KESTRUNE_SANITIZE STREQUAL "")
  set(KESTRUNE_SANITIZER_FLAGS "")
elseif(KESTRUNE_SANITIZE STREQUAL "address")
  set(KESTRUNE_SANITIZER_FLAGS
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(KESTRUNE_SANITIZE STREQUAL "thread")
  set(KESTRUNE_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
else()
  message(FATAL_ERROR
    "KESTRUNE_SANITIZE is '${KESTRUNE_SANITIZE}'; it must be empty, address or thread")
endif()
add_compile_options(${KESTRUNE_SANITIZER_FLAGS})
add_link_options(${KESTRUNE_SANITIZER_FLAGS})

function(kestrune_warnings target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic>)
  if(KESTRUNE_WERROR)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Werror>)
  endif()
endfunction()
