# The benchmark suite (Google Benchmark) and the loop callgrind counts
# instructions of. Off by default; tools/run_benchmarks.sh turns it on.
option(KESTRUNE_BUILD_BENCHMARKS "Build the benchmark suite" OFF)
if(NOT KESTRUNE_BUILD_BENCHMARKS)
  return()
endif()

find_package(benchmark REQUIRED)
pkg_check_modules(LTTNG_UST REQUIRED IMPORTED_TARGET lttng-ust)

add_library(kestrune_bench_support STATIC
  benchmark/baseline_recorder.cpp
  benchmark/engine_setup.cpp)
target_include_directories(kestrune_bench_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/benchmark)
target_link_libraries(kestrune_bench_support PUBLIC ${PROJECT_NAME})
kestrune_warnings(kestrune_bench_support)

# LTTng's provider macros expand to code -Wpedantic objects to; its warnings stay off.
add_library(kestrune_bench_tracepoint STATIC benchmark/tracepoint_provider.cpp)
target_include_directories(kestrune_bench_tracepoint PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/benchmark)
target_link_libraries(kestrune_bench_tracepoint PUBLIC PkgConfig::LTTNG_UST ${CMAKE_DL_LIBS})

add_executable(kestrune_benchmarks benchmark/benchmarks.cpp)
target_link_libraries(kestrune_benchmarks
  kestrune_bench_support kestrune_bench_tracepoint benchmark::benchmark spdlog::spdlog)
kestrune_warnings(kestrune_benchmarks)

add_executable(kestrune_instruction_count benchmark/instruction_count.cpp)
target_link_libraries(kestrune_instruction_count kestrune_bench_support)
kestrune_warnings(kestrune_instruction_count)

# How long the heartbeat and the health report hold the engine mutex with 10,000 flows.
add_executable(kestrune_hold_benchmarks benchmark/hold_benchmarks.cpp)
target_include_directories(kestrune_hold_benchmarks PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR}/test)
target_link_libraries(kestrune_hold_benchmarks ${PROJECT_NAME} benchmark::benchmark)
kestrune_warnings(kestrune_hold_benchmarks)

# Linting a 10,000-flow file against Init on it; the ratio of the two is the figure.
add_executable(kestrune_lint_benchmarks benchmark/lint_benchmarks.cpp)
target_include_directories(kestrune_lint_benchmarks PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/test)
target_link_libraries(kestrune_lint_benchmarks kestrune_flow_tools benchmark::benchmark)
kestrune_warnings(kestrune_lint_benchmarks)

if(BUILD_TESTING)
  # Proves the suite builds and runs; no timing is judged here.
  add_test(NAME kestrune_benchmarks_smoke
    COMMAND kestrune_benchmarks --benchmark_min_time=0.001
      "--benchmark_filter=^(Baseline|Trace/no_event|Trace/node_event|CheckFlow/100)$")
  set_tests_properties(kestrune_benchmarks_smoke PROPERTIES
    TIMEOUT 120
    ENVIRONMENT "SPDLOG_LEVEL=error;SPDLOG_STDOUT=true;SPDLOG_SYSTEMD=false;\
CYCLONEDDS_URI=${KESTRUNE_TEST_CYCLONEDDS_URI};ROS_DOMAIN_ID=${KESTRUNE_TEST_DOMAIN_ID};\
ROS_LOCALHOST_ONLY=1")
  add_test(NAME kestrune_lint_benchmarks_smoke
    COMMAND kestrune_lint_benchmarks --benchmark_min_time=0.001)
  set_tests_properties(kestrune_lint_benchmarks_smoke PROPERTIES TIMEOUT 300)
endif()

# flow_monitor: events ingested a second, and a level change's way to a page under 5,000 events a second.
add_executable(kestrune_monitor_benchmarks benchmark/monitor_benchmarks.cpp)
target_include_directories(kestrune_monitor_benchmarks PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/test)
target_link_libraries(kestrune_monitor_benchmarks kestrune_monitor_parts benchmark::benchmark)
kestrune_warnings(kestrune_monitor_benchmarks)

# flow_checker: its ingest rate, a point's way from Trace to the verdict, and a
# sender's Trace against a plain publish of the same message.
add_executable(kestrune_checker_benchmarks benchmark/checker_benchmarks.cpp)
target_include_directories(kestrune_checker_benchmarks PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/test)
target_link_libraries(kestrune_checker_benchmarks kestrune_checker_parts benchmark::benchmark)
kestrune_warnings(kestrune_checker_benchmarks)
