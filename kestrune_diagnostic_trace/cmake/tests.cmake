# GoogleTest suites, one per unit, discovered by ctest through ament_cmake_gtest.
find_package(ament_cmake_gtest REQUIRED)

add_library(kestrune_test_support INTERFACE)
target_include_directories(kestrune_test_support INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}/test)
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

function(kestrune_add_test name)
  ament_add_gtest(${name} test/${name}.cpp ${ARGN} TIMEOUT 120
    ENV "CYCLONEDDS_URI=${KESTRUNE_TEST_CYCLONEDDS_URI}" "ROS_DOMAIN_ID=${KESTRUNE_TEST_DOMAIN_ID}"
    "ROS_LOCALHOST_ONLY=1")
  target_link_libraries(${name} ${PROJECT_NAME} kestrune_test_support yaml-cpp)
  kestrune_warnings(${name})
endfunction()

kestrune_add_test(test_flow_check)
kestrune_add_test(test_trace_recording)
kestrune_add_test(test_running_check)
# Runs that both checks judge, the running check while recording and CheckFlow after.
kestrune_add_test(test_repeated_points)

# Logs through the facade as told by its arguments; test_logger runs it once per environment.
add_executable(logger_probe test/logger_probe.cpp)
target_link_libraries(logger_probe ${PROJECT_NAME})
kestrune_warnings(logger_probe)
kestrune_add_test(test_logger)
add_dependencies(test_logger logger_probe)
target_compile_definitions(test_logger PRIVATE
  KESTRUNE_LOGGER_PROBE="$<TARGET_FILE:logger_probe>"
  KESTRUNE_LOGGER_PROBE_SOURCE="${CMAKE_CURRENT_SOURCE_DIR}/test/logger_probe.cpp")
kestrune_add_test(test_trace_config SKIP_LINKING_MAIN_LIBRARIES)
kestrune_add_test(test_flow_trace)
kestrune_add_test(test_diagnostic_publication SKIP_LINKING_MAIN_LIBRARIES)
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

# A user's project built against the install space: the exported target must
# bring every include path and dependency. Needs the package installed first.
add_test(NAME test_downstream_package COMMAND ${CMAKE_COMMAND}
  -DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/test/downstream
  -DBINARY_DIR=${CMAKE_CURRENT_BINARY_DIR}/downstream
  "-DCXX_FLAGS=${CMAKE_CXX_FLAGS}"
  -P ${CMAKE_CURRENT_SOURCE_DIR}/test/downstream/build_and_run.cmake)
set_tests_properties(test_downstream_package PROPERTIES TIMEOUT 300)

if(KESTRUNE_STANDALONE)
  kestrune_add_test(test_diag_echo)
  add_dependencies(test_trace_scenario_node diag_echo)
endif()
