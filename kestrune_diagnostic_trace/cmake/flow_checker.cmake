# flow_checker: the engine fed from a subscription, for flows that span nodes
# and processes. Built in both modes, installed for `ros2 run`. Its parts live in
# a static library so tests and the benchmark link them too.
add_library(kestrune_checker_parts STATIC
  src/flow_checker/checker_node.cpp
  src/flow_checker/checker_options.cpp
  src/flow_checker/checker_status.cpp
  src/flow_checker/point_checker.cpp
  src/flow_checker/reorder_window.cpp
  src/flow_checker/sender_table.cpp)
target_include_directories(kestrune_checker_parts
  PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src/flow_checker
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(kestrune_checker_parts PUBLIC ${PROJECT_NAME})
kestrune_warnings(kestrune_checker_parts)

add_executable(flow_checker src/flow_checker/main.cpp)
# The flow file is reported as the other programs report it.
target_link_libraries(flow_checker PRIVATE kestrune_checker_parts kestrune_flow_tools)
kestrune_warnings(flow_checker)
install(TARGETS flow_checker RUNTIME DESTINATION lib/${PROJECT_NAME})

# `ros2 launch kestrune_diagnostic_trace flow_checker.launch.py flows:=... namespace:=...`
if(NOT KESTRUNE_STANDALONE)
  install(DIRECTORY launch DESTINATION share/${PROJECT_NAME})
endif()
