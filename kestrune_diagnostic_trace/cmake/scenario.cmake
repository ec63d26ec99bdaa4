# The scenario program trace_scenario_node and the example node of the docs.
# FlowScope and FlowEventHandler live in a static library so tests link them too.
add_library(kestrune_scenario_parts STATIC
  src/flow_trace_test/flow_event_handler.cpp
  src/flow_trace_test/flow_scope.cpp)
target_include_directories(kestrune_scenario_parts PUBLIC
  ${CMAKE_CURRENT_SOURCE_DIR}/src/flow_trace_test)
target_link_libraries(kestrune_scenario_parts PUBLIC ${PROJECT_NAME})
kestrune_warnings(kestrune_scenario_parts)

add_executable(trace_scenario_node src/flow_trace_test/main.cpp)
target_link_libraries(trace_scenario_node PRIVATE
  kestrune_scenario_parts ament_index_cpp::ament_index_cpp)
kestrune_warnings(trace_scenario_node)
install(TARGETS trace_scenario_node DESTINATION lib/${PROJECT_NAME})

# Built with everything else so the getting-started code cannot rot; not installed.
add_executable(minimal_node examples/minimal_node.cpp)
target_link_libraries(minimal_node PRIVATE ${PROJECT_NAME})
kestrune_warnings(minimal_node)
if(BUILD_TESTING)
  # The example must still pass its own check against its own flow file.
  add_test(NAME example_minimal_node
    COMMAND minimal_node ${CMAKE_CURRENT_SOURCE_DIR}/examples/minimal_flow.yaml)
endif()
