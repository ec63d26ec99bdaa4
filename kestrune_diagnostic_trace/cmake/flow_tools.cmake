# kestrune_flow_tools: what checks, shows and draws flow files, kept out of the
# runtime library a robot links: the lint (flow_config_lint.hpp), `show` and
# `render`. Installed and exported in both modes, as
# kestrune_diagnostic_trace::kestrune_flow_tools; kestrune_flow and the tests link it.
add_library(kestrune_flow_tools SHARED
  src/flow_tools/flow_config_lint.cpp
  src/flow_tools/flow_render.cpp
  src/flow_tools/flow_show.cpp
  src/flow_tools/lint_report.cpp
  src/flow_tools/topic_name.cpp)
# show's and render's headers are for the package's own programs and tests.
target_include_directories(kestrune_flow_tools
  PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/src/flow_tools>
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src/flow_trace)
target_link_libraries(kestrune_flow_tools PUBLIC ${PROJECT_NAME} PRIVATE yaml-cpp fmt::fmt)
target_compile_features(kestrune_flow_tools PUBLIC cxx_std_17)
kestrune_warnings(kestrune_flow_tools)
install(TARGETS kestrune_flow_tools EXPORT export_${PROJECT_NAME}
  ARCHIVE DESTINATION lib
  LIBRARY DESTINATION lib
  RUNTIME DESTINATION bin)

# kestrune_flow, installed beside the package's programs for `ros2 run`.
add_executable(kestrune_flow src/kestrune_flow/main.cpp src/kestrune_flow/command_line.cpp)
target_link_libraries(kestrune_flow PRIVATE kestrune_flow_tools)
kestrune_warnings(kestrune_flow)
install(TARGETS kestrune_flow RUNTIME DESTINATION lib/${PROJECT_NAME})

# Writes the JSON Schema and the fuzz dictionary from the format's table; both
# stay committed files (a build that runs a host program would break
# cross-compiling). tools/generate_flow_format.sh runs it; not installed.
find_package(nlohmann_json REQUIRED)
add_executable(generate_flow_format src/flow_tools/generate_flow_format.cpp)
target_link_libraries(generate_flow_format PRIVATE ${PROJECT_NAME} nlohmann_json::nlohmann_json)
kestrune_warnings(generate_flow_format)
