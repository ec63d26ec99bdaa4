# The flow-configuration fuzzer (libFuzzer). Needs clang and the whole build under
# -fsanitize=fuzzer-no-link plus the sanitizers; tools/run_fuzzer.sh sets that up.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "KESTRUNE_FUZZ needs clang: build with CC=clang CXX=clang++")
endif()
add_executable(fuzz_flow_config test/fuzz/fuzz_flow_config.cpp)
target_include_directories(fuzz_flow_config PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/test ${CMAKE_CURRENT_SOURCE_DIR}/src/flow_trace)
target_link_libraries(fuzz_flow_config PRIVATE kestrune_flow_tools yaml-cpp)
target_link_options(fuzz_flow_config PRIVATE -fsanitize=fuzzer)
kestrune_warnings(fuzz_flow_config)
