# Fails when a committed file made from the flow format's table differs from
# what the generator writes now. Run with -DGENERATOR=... -DSOURCE_DIR=...
foreach(pair "schema;schema/flow_config.schema.json" "dict;test/fuzz/flow_config.dict")
  list(GET pair 0 what)
  list(GET pair 1 file)
  execute_process(COMMAND ${GENERATOR} ${what} OUTPUT_VARIABLE generated RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${GENERATOR} ${what} failed: ${result}")
  endif()
  file(READ ${SOURCE_DIR}/${file} committed)
  if(NOT generated STREQUAL committed)
    message(FATAL_ERROR "${file} is not what the flow format's table gives; "
      "run tools/generate_flow_format.sh and commit the result")
  endif()
endforeach()
