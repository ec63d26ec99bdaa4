# diag_echo, the standalone counterpart of `ros2 topic echo` for diagnostic
# events and /diagnostics. With ROS 2 installed, `ros2 topic echo` does the job.
if(NOT KESTRUNE_STANDALONE)
  return()
endif()

find_package(nlohmann_json REQUIRED)
add_executable(diag_echo
  src/diag_echo/echo_format.cpp
  src/diag_echo/echo_options.cpp
  src/diag_echo/main.cpp
  src/diag_echo/topic_types.cpp)
target_link_libraries(diag_echo ${KESTRUNE_CLIENT_TARGETS} nlohmann_json::nlohmann_json)
target_compile_features(diag_echo PRIVATE cxx_std_17)
kestrune_warnings(diag_echo)
install(TARGETS diag_echo RUNTIME DESTINATION lib/${PROJECT_NAME})
