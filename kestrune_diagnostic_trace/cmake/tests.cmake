# GoogleTest suites, one per unit, discovered by ctest through ament_cmake_gtest.
find_package(ament_cmake_gtest REQUIRED)

add_library(kestrune_test_support INTERFACE)
target_include_directories(kestrune_test_support INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}/test)
target_compile_definitions(kestrune_test_support INTERFACE
  KESTRUNE_TEST_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}"
  KESTRUNE_TEST_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")

# Nodes in tests talk DDS: keep it on loopback, in a domain drawn for this build
# tree so test runs of other engineers on the machine are not heard.
set(KESTRUNE_TEST_CYCLONEDDS_URI "<CycloneDDS><Domain><General><Interfaces>\
<NetworkInterface address=\"127.0.0.1\" multicast=\"false\"/></Interfaces>\
<AllowMulticast>false</AllowMulticast></General><Discovery><ParticipantIndex>auto\
</ParticipantIndex><MaxAutoParticipantIndex>32</MaxAutoParticipantIndex><Peers>\
<Peer address=\"127.0.0.1\"/></Peers></Discovery></Domain></CycloneDDS>")
string(RANDOM LENGTH 4 ALPHABET 123456789 KESTRUNE_TEST_RANDOM)
math(EXPR KESTRUNE_TEST_DOMAIN_ID "${KESTRUNE_TEST_RANDOM} % 232 + 1")

function(kestrune_add_test name)
  ament_add_gtest(${name} test/${name}.cpp ${ARGN} TIMEOUT 120
    ENV "CYCLONEDDS_URI=${KESTRUNE_TEST_CYCLONEDDS_URI}" "ROS_DOMAIN_ID=${KESTRUNE_TEST_DOMAIN_ID}")
  target_link_libraries(${name} ${PROJECT_NAME} kestrune_test_support yaml-cpp)
  kestrune_warnings(${name})
endfunction()

kestrune_add_test(test_trace_config)
if(KESTRUNE_STANDALONE)
  kestrune_add_test(test_diag_echo)
endif()
