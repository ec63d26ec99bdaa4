# flow_monitor: the live flow page. The page's files are compiled in; the HTTP
# server (Boost.Beast over Boost.Asio, one I/O thread) and JSON come from
# Debian (libboost-dev, nlohmann-json3-dev).
find_package(nlohmann_json REQUIRED)
find_package(Boost 1.74 REQUIRED)
find_package(Threads REQUIRED)

set(page_dir ${CMAKE_CURRENT_SOURCE_DIR}/src/flow_monitor/page)
set(page_files ${page_dir}/index.html ${page_dir}/app.js ${page_dir}/style.css)
set(page_source ${CMAKE_CURRENT_BINARY_DIR}/monitor_page/page_assets.cpp)
add_custom_command(OUTPUT ${page_source}
  COMMAND ${CMAKE_COMMAND} -DPAGE_DIR=${page_dir} -DOUTPUT=${page_source}
    -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/embed_page.cmake
  DEPENDS ${page_files} ${CMAKE_CURRENT_SOURCE_DIR}/cmake/embed_page.cmake
  COMMENT "Embedding the flow monitor's page")

# Everything but main, so the tests and the benchmark use the same parts.
add_library(kestrune_monitor_parts STATIC
  src/flow_monitor/flow_model.cpp
  src/flow_monitor/flow_json.cpp
  src/flow_monitor/flow_record.cpp
  src/flow_monitor/monitor_server.cpp
  src/flow_monitor/monitor_options.cpp
  src/flow_monitor/monitor_node.cpp
  src/flow_monitor/diagnostics_input.cpp
  ${page_source})
target_include_directories(kestrune_monitor_parts
  PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src/flow_monitor
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(kestrune_monitor_parts
  PUBLIC ${PROJECT_NAME}
  PRIVATE nlohmann_json::nlohmann_json Boost::headers Threads::Threads)
kestrune_warnings(kestrune_monitor_parts)
# GCC warns that ThreadSanitizer does not model the fences in Asio's handler
# invocation; Asio hands handlers over under its scheduler's mutex, which the
# sanitizer does see, so the warning is not an error there.
if(KESTRUNE_SANITIZE STREQUAL "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(kestrune_monitor_parts PRIVATE -Wno-tsan)
endif()

# It reads its flow file with the tools' reader and reports as kestrune_flow does.
add_executable(flow_monitor src/flow_monitor/main.cpp src/flow_monitor/monitor_config.cpp)
target_link_libraries(flow_monitor PRIVATE kestrune_monitor_parts kestrune_flow_tools)
kestrune_warnings(flow_monitor)
install(TARGETS flow_monitor RUNTIME DESTINATION lib/${PROJECT_NAME})
