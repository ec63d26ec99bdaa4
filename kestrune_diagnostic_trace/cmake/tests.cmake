# GoogleTest suites, one per unit, discovered by ctest through ament_cmake_gtest.
find_package(ament_cmake_gtest REQUIRED)

add_library(kestrune_test_support INTERFACE)
# test/support holds this package's helpers, ../test_support those shared with
# the other packages of the repository.
target_include_directories(kestrune_test_support INTERFACE
  ${CMAKE_CURRENT_SOURCE_DIR}/test ${CMAKE_CURRENT_SOURCE_DIR}/../test_support)
target_compile_definitions(kestrune_test_support INTERFACE
  KESTRUNE_TEST_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}"
  KESTRUNE_TEST_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")

# Nodes in tests talk DDS: keep it on loopback, in a domain drawn for this build
# tree so test runs of other engineers on the machine are not heard. Every DDS
# variable is set here, whatever the user's shell exports: ROS_LOCALHOST_ONLY=1
# chooses the loopback interface, and the configuration must then not choose it
# again (Cyclone DDS refuses an interface selected twice).
set(KESTRUNE_TEST_CYCLONEDDS_URI "<CycloneDDS><Domain><General>\
<AllowMulticast>false</AllowMulticast></General><Discovery><ParticipantIndex>auto\
</ParticipantIndex><MaxAutoParticipantIndex>32</MaxAutoParticipantIndex><Peers>\
<Peer address=\"127.0.0.1\"/></Peers></Discovery></Domain></CycloneDDS>")
string(RANDOM LENGTH 4 ALPHABET 123456789 KESTRUNE_TEST_RANDOM)
math(EXPR KESTRUNE_TEST_DOMAIN_ID "${KESTRUNE_TEST_RANDOM} % 232 + 1")

set_tests_properties(example_minimal_node PROPERTIES ENVIRONMENT
  "CYCLONEDDS_URI=${KESTRUNE_TEST_CYCLONEDDS_URI};ROS_DOMAIN_ID=${KESTRUNE_TEST_DOMAIN_ID};\
ROS_LOCALHOST_ONLY=1")

# kestrune_add_test(name [SKIP_LINKING_MAIN_LIBRARIES] [ENV NAME=value...]): the
# suite test/<name>.cpp; with gtest's main unless it brings its own.
function(kestrune_add_test name)
  cmake_parse_arguments(ARG "SKIP_LINKING_MAIN_LIBRARIES" "" "ENV" ${ARGN})
  set(skip_main "")
  if(ARG_SKIP_LINKING_MAIN_LIBRARIES)
    set(skip_main SKIP_LINKING_MAIN_LIBRARIES)
  endif()
  ament_add_gtest(${name} test/${name}.cpp ${skip_main} TIMEOUT 120
    ENV "CYCLONEDDS_URI=${KESTRUNE_TEST_CYCLONEDDS_URI}" "ROS_DOMAIN_ID=${KESTRUNE_TEST_DOMAIN_ID}"
      "ROS_LOCALHOST_ONLY=1" ${ARG_ENV})
  target_link_libraries(${name} ${PROJECT_NAME} kestrune_test_support yaml-cpp)
  kestrune_warnings(${name})
endfunction()

kestrune_add_test(test_flow_check)
kestrune_add_test(test_trace_recording)
kestrune_add_test(test_running_check)
# Runs that both checks judge, the running check while recording and CheckFlow after.
kestrune_add_test(test_repeated_points)
# Replaces the global operator new to count what recording allocates.
kestrune_add_test(test_point_pool)
kestrune_add_test(test_trace_point_handle)

# Logs through the facade as told by its arguments; test_logger runs it once per environment.
add_executable(logger_probe test/logger_probe.cpp)
target_link_libraries(logger_probe ${PROJECT_NAME})
kestrune_warnings(logger_probe)
kestrune_add_test(test_logger)
add_dependencies(test_logger logger_probe)
target_compile_definitions(test_logger PRIVATE
  KESTRUNE_LOGGER_PROBE="$<TARGET_FILE:logger_probe>"
  KESTRUNE_LOGGER_PROBE_SOURCE="${CMAKE_CURRENT_SOURCE_DIR}/test/logger_probe.cpp")
kestrune_add_test(test_flow_config)
# The flow lines are debug lines; the facade reads its level once, at the first line.
kestrune_add_test(test_trace_config ENV SPDLOG_LEVEL=debug)
kestrune_add_test(test_flow_trace)
# Flow health on /diagnostics, read back in the same process.
kestrune_add_test(test_flow_health)
target_include_directories(test_flow_health PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
# Budgets and duration statistics: runs with controlled stamps, and their judgement.
kestrune_add_test(test_flow_statistics)
target_include_directories(test_flow_statistics PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
# The same from another process: health_probe reports, the test subscribes.
add_executable(health_probe test/health_probe.cpp)
target_link_libraries(health_probe ${PROJECT_NAME})
kestrune_warnings(health_probe)
kestrune_add_test(test_health_reporter)
add_dependencies(test_health_reporter health_probe)
target_compile_definitions(test_health_reporter PRIVATE
  KESTRUNE_HEALTH_PROBE="$<TARGET_FILE:health_probe>")
# Times Trace while a subscriber is stopped: without the info line each event
# writes to standard output, which would time the pipe to ctest instead.
kestrune_add_test(test_diagnostic_publication SKIP_LINKING_MAIN_LIBRARIES ENV SPDLOG_LEVEL=warning)
kestrune_add_test(test_engine_lock)
kestrune_add_test(test_heartbeat SKIP_LINKING_MAIN_LIBRARIES)
kestrune_add_test(test_flow_trace_api)
# Faults from outside: throwing callbacks, refused topics, unreadable, huge and deep files.
kestrune_add_test(test_faults SKIP_LINKING_MAIN_LIBRARIES)
# Eight threads and a re-initialising one on the engine; KESTRUNE_STRESS_SECONDS sets its length.
kestrune_add_test(test_stress SKIP_LINKING_MAIN_LIBRARIES)

# The scenario program's parts, and the program itself run as a child process.
kestrune_add_test(test_flow_event_handler)
target_link_libraries(test_flow_event_handler kestrune_scenario_parts)
kestrune_add_test(test_flow_scope)
target_link_libraries(test_flow_scope kestrune_scenario_parts)
kestrune_add_test(test_trace_scenario_node)
add_dependencies(test_trace_scenario_node trace_scenario_node)
target_compile_definitions(test_trace_scenario_node PRIVATE
  KESTRUNE_SCENARIO_NODE="$<TARGET_FILE:trace_scenario_node>")

# A user's project built against the install space: the exported targets must
# bring every include path and dependency, whatever python3 comes first on PATH.
# Needs the package installed first.
# Sanitized libraries need the sanitizers' runtime in the program too.
string(JOIN " " downstream_cxx_flags ${CMAKE_CXX_FLAGS} ${KESTRUNE_SANITIZER_FLAGS})
add_test(NAME test_downstream_package COMMAND ${CMAKE_COMMAND}
  -DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/test/downstream
  -DBINARY_DIR=${CMAKE_CURRENT_BINARY_DIR}/downstream
  "-DCXX_FLAGS=${downstream_cxx_flags}" -DPYTHON=${Python3_EXECUTABLE}
  -P ${CMAKE_CURRENT_SOURCE_DIR}/test/downstream/build_and_run.cmake)
set_tests_properties(test_downstream_package PROPERTIES TIMEOUT 300)

if(KESTRUNE_STANDALONE)
  kestrune_add_test(test_diag_echo)
  add_dependencies(test_trace_scenario_node diag_echo)
endif()

# Every bundled, example and test flow file against the JSON Schema, with Debian's
# python3-jsonschema; the script also proves the schema refuses known slips.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
file(GLOB KESTRUNE_VALID_FLOW_FILES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/config/*.yaml
  ${CMAKE_CURRENT_SOURCE_DIR}/examples/*.yaml
  ${CMAKE_CURRENT_SOURCE_DIR}/test/flow_configs/*.yaml)
# diagnostic_aggregator's parameters, shipped beside the flow files.
list(FILTER KESTRUNE_VALID_FLOW_FILES EXCLUDE REGEX "/config/analyzers\\.yaml$")
add_test(NAME test_flow_config_schema
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/test/validate_flow_configs.py
    ${CMAKE_CURRENT_SOURCE_DIR}/schema/flow_config.schema.json ${KESTRUNE_VALID_FLOW_FILES})

# Flow file checks: the table of slips, kestrune_flow's output and exit status,
# and one walk over the corpus and the bundled files holding show's output, Init
# and the JSON Schema (with the real validator) to the lint.
kestrune_add_test(test_flow_config_lint SKIP_LINKING_MAIN_LIBRARIES)
add_dependencies(test_flow_config_lint kestrune_flow)
target_compile_definitions(test_flow_config_lint PRIVATE
  KESTRUNE_FLOW="$<TARGET_FILE:kestrune_flow>" KESTRUNE_PYTHON="${Python3_EXECUTABLE}")
target_include_directories(test_flow_config_lint PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src/flow_trace)
target_link_libraries(test_flow_config_lint kestrune_flow_tools)
kestrune_add_test(test_flow_render)
target_link_libraries(test_flow_render kestrune_flow_tools)
# The format's table: every key read, shown, linted and in the fuzz dictionary.
kestrune_add_test(test_flow_format)
target_include_directories(test_flow_format PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src/flow_trace)
target_link_libraries(test_flow_format kestrune_flow_tools)
# The committed schema and fuzz dictionary are what the table gives.
add_test(NAME test_flow_format_files COMMAND ${CMAKE_COMMAND}
  -DGENERATOR=$<TARGET_FILE:generate_flow_format> -DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}
  -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/check_flow_format_files.cmake)
# The one reader of flow files, its errors through Init, kestrune_flow, flow_monitor
# and flow_checker.
kestrune_add_test(test_flow_config_file SKIP_LINKING_MAIN_LIBRARIES)
add_dependencies(test_flow_config_file kestrune_flow flow_monitor flow_checker)
target_compile_definitions(test_flow_config_file PRIVATE
  KESTRUNE_FLOW="$<TARGET_FILE:kestrune_flow>"
  KESTRUNE_FLOW_MONITOR="$<TARGET_FILE:flow_monitor>"
  KESTRUNE_FLOW_CHECKER="$<TARGET_FILE:flow_checker>")

# flow_monitor's parts against real ones: the model, its JSON, its record, the
# HTTP server on an ephemeral port, the command line, the subscriptions, and the
# contract between the engine and the monitor, end to end.
foreach(suite test_flow_model test_flow_json test_flow_record test_monitor_server
    test_monitor_options test_monitor_node test_flow_report)
  kestrune_add_test(${suite})
  target_link_libraries(${suite} kestrune_monitor_parts nlohmann_json::nlohmann_json)
endforeach()

# The page in headless chromium (selenium) while the scenario program runs; skipped
# (77) only where chromium is not installed. The screenshot lands in monitor_page/.
add_test(NAME test_monitor_page
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/test/monitor/test_monitor_page.py
    --monitor $<TARGET_FILE:flow_monitor>
    --scenario $<TARGET_FILE:trace_scenario_node>
    --flow-config ${CMAKE_CURRENT_SOURCE_DIR}/config/test_flow.yaml
    --out ${CMAKE_CURRENT_BINARY_DIR}/monitor_page)
set_tests_properties(test_monitor_page PROPERTIES
  TIMEOUT 180
  SKIP_RETURN_CODE 77
  ENVIRONMENT "CYCLONEDDS_URI=${KESTRUNE_TEST_CYCLONEDDS_URI};ROS_DOMAIN_ID=${KESTRUNE_TEST_DOMAIN_ID};\
ROS_LOCALHOST_ONLY=1")
# The program itself as a child process: start, serve, SIGINT; refused starts.
kestrune_add_test(test_flow_monitor)
add_dependencies(test_flow_monitor flow_monitor)
target_compile_definitions(test_flow_monitor PRIVATE KESTRUNE_FLOW_MONITOR="$<TARGET_FILE:flow_monitor>")

# flow_checker: its judgement in this process with the clocks in the test's hands,
# then the program itself fed by sender processes over DDS.
kestrune_add_test(test_point_checker)
target_link_libraries(test_point_checker kestrune_checker_parts)
kestrune_add_test(test_checker_options)
target_link_libraries(test_checker_options kestrune_checker_parts)
add_executable(flow_point_probe test/flow_point_probe.cpp)
target_link_libraries(flow_point_probe ${PROJECT_NAME})
kestrune_warnings(flow_point_probe)
kestrune_add_test(test_flow_checker)
target_link_libraries(test_flow_checker kestrune_checker_parts)
add_dependencies(test_flow_checker flow_checker flow_point_probe)
# The sustained load runs at full rate unless sanitizers slow every process many times over.
if(KESTRUNE_SANITIZE STREQUAL "")
  set(KESTRUNE_LOAD "2500 10")
else()
  set(KESTRUNE_LOAD "250 4")
endif()
target_compile_definitions(test_flow_checker PRIVATE
  KESTRUNE_FLOW_CHECKER="$<TARGET_FILE:flow_checker>"
  KESTRUNE_FLOW_POINT_PROBE="$<TARGET_FILE:flow_point_probe>"
  KESTRUNE_LOAD="${KESTRUNE_LOAD}")
kestrune_add_test(test_point_sender)
kestrune_add_test(test_run_end)
