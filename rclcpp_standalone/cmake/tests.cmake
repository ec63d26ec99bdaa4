# GoogleTest suites and the publish benchmark, over a test message shaped like
# the flow tracer's event. Tests start a peer program for the other process.
find_package(ament_cmake_gtest REQUIRED)
find_package(benchmark QUIET)

set(TEST_MSG_DIR ${CMAKE_CURRENT_SOURCE_DIR}/test/msg)
rclcpp_standalone_idl_sources(TEST_MSG_DDS_SOURCES ${TEST_MSG_DIR}
  FILES ${TEST_MSG_DIR}/rclcpp_standalone_test/msg/dds_/Event_.idl
  INCLUDES ${RCLCPP_STANDALONE_IDL_DIR})
add_library(rclcpp_standalone_test_msgs STATIC ${TEST_MSG_DDS_SOURCES})
# test/support holds this package's helpers, ../test_support those shared with
# the other packages of the repository.
target_include_directories(rclcpp_standalone_test_msgs PUBLIC
  ${TEST_MSG_DIR} ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/test
  ${CMAKE_CURRENT_SOURCE_DIR}/../test_support)
target_link_libraries(rclcpp_standalone_test_msgs PUBLIC ${PROJECT_NAME})

add_executable(rclcpp_standalone_test_peer test/peer/test_peer.cpp)
target_link_libraries(rclcpp_standalone_test_peer rclcpp_standalone_test_msgs)
kestrune_warnings(rclcpp_standalone_test_peer)

function(rclcpp_standalone_add_test name)
  ament_add_gtest(${name} test/${name}.cpp TIMEOUT 120)
  target_link_libraries(${name} rclcpp_standalone_test_msgs)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_compile_definitions(${name} PRIVATE
    RCLCPP_STANDALONE_TEST_PEER="$<TARGET_FILE:rclcpp_standalone_test_peer>")
  add_dependencies(${name} rclcpp_standalone_test_peer)
  kestrune_warnings(${name})
endfunction()

rclcpp_standalone_add_test(test_cross_process)
rclcpp_standalone_add_test(test_diagnostic_msgs)
rclcpp_standalone_add_test(test_domain_settings)
rclcpp_standalone_add_test(test_expand_topic_or_service_name)
rclcpp_standalone_add_test(test_graph_announcer)
rclcpp_standalone_add_test(test_rclcpp_standalone)
rclcpp_standalone_add_test(test_ros_arguments)

# Built with the tests, never run by them: timings on a shared machine are no verdict.
if(benchmark_FOUND)
  add_executable(benchmark_publish benchmark/benchmark_publish.cpp)
  target_link_libraries(benchmark_publish rclcpp_standalone_test_msgs benchmark::benchmark)
  kestrune_warnings(benchmark_publish)
endif()
