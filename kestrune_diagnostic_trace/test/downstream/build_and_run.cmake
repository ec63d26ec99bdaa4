# Configures, builds and runs the downstream project against the install space
# found on CMAKE_PREFIX_PATH; any failing step fails the test. The configure step
# runs with a python3 first on PATH that cannot import ament_package, as a
# pyenv or virtualenv interpreter cannot: finding the package must not depend on it.
set(bare_python_dir ${BINARY_DIR}/bare_python)
file(MAKE_DIRECTORY ${bare_python_dir})
file(WRITE ${bare_python_dir}/python3 "#!/bin/sh\nexec ${PYTHON} -I -S \"$@\"\n")
file(CHMOD ${bare_python_dir}/python3 PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
# A cached interpreter from an earlier run would hide the question.
file(REMOVE ${BINARY_DIR}/CMakeCache.txt)
foreach(step configure build run)
  if(step STREQUAL configure)
    set(command ${CMAKE_COMMAND} -E env "PATH=${bare_python_dir}:$ENV{PATH}"
      ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR}
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
