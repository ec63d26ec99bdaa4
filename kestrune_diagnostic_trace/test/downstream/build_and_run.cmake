# Configures, builds and runs the downstream project against the install space
# found on CMAKE_PREFIX_PATH; any failing step fails the test.
foreach(step configure build run)
  if(step STREQUAL configure)
    set(command ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR}
      "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_BUILD_TYPE=Debug)
  elseif(step STREQUAL build)
    set(command ${CMAKE_COMMAND} --build ${BINARY_DIR})
  else()
    set(command ${BINARY_DIR}/downstream_app)
  endif()
  execute_process(COMMAND ${command} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "downstream ${step} failed: ${result}")
  endif()
endforeach()
