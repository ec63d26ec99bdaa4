# diag_echo, the standalone counterpart of `ros2 topic echo` for diagnostic
# events. With ROS 2 installed, `ros2 topic echo` does the job.
if(NOT KESTRUNE_STANDALONE)
  return()
endif()

add_executable(diag_echo
  src/diag_echo/echo_options.cpp
  src/diag_echo/event_yaml.cpp
  src/diag_echo/main.cpp)
target_link_libraries(diag_echo ${KESTRUNE_CLIENT_TARGETS})
target_compile_features(diag_echo PRIVATE cxx_std_17)
kestrune_warnings(diag_echo)
install(TARGETS diag_echo RUNTIME DESTINATION lib/${PROJECT_NAME})
