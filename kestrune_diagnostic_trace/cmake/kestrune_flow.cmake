# kestrune_flow checks, shows and draws flow configuration files. Built in both
# modes and installed beside the package's programs, for `ros2 run`. Its parts
# live in a static library so tests link them too.
add_library(kestrune_flow_parts STATIC
  src/kestrune_flow/command_line.cpp
  src/kestrune_flow/flow_render.cpp
  src/kestrune_flow/flow_show.cpp
  src/kestrune_flow/lint_report.cpp
  src/kestrune_flow/loaded_flows.cpp)
target_include_directories(kestrune_flow_parts PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src/kestrune_flow)
target_link_libraries(kestrune_flow_parts PUBLIC ${PROJECT_NAME} PRIVATE yaml-cpp)
kestrune_warnings(kestrune_flow_parts)

add_executable(kestrune_flow src/kestrune_flow/main.cpp)
target_link_libraries(kestrune_flow PRIVATE kestrune_flow_parts)
kestrune_warnings(kestrune_flow)
install(TARGETS kestrune_flow RUNTIME DESTINATION lib/${PROJECT_NAME})
