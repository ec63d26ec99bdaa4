# Standalone build of the message package: the C++ message type for the
# standalone rclcpp layer, at the include path rosidl would generate, and its
# DDS type from IDL, named as rosidl names it so ROS 2 nodes match it.
find_package(rclcpp_standalone REQUIRED)
find_package(CycloneDDS REQUIRED)

set(KESTRUNE_PROTOCOL_IDL_DIR ${CMAKE_CURRENT_SOURCE_DIR}/standalone/idl)
rclcpp_standalone_idl_sources(KESTRUNE_PROTOCOL_DDS_SOURCES ${KESTRUNE_PROTOCOL_IDL_DIR}
  FILES ${KESTRUNE_PROTOCOL_IDL_DIR}/kestrune_protocol/msg/dds_/DiagnosticEvent_.idl
    ${KESTRUNE_PROTOCOL_IDL_DIR}/kestrune_protocol/msg/dds_/FlowPoint_.idl
  INCLUDES ${rclcpp_standalone_IDL_DIR})

add_library(${PROJECT_NAME} SHARED ${KESTRUNE_PROTOCOL_DDS_SOURCES})
target_include_directories(${PROJECT_NAME} PUBLIC
  $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/standalone/include>
  $<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}>
  $<INSTALL_INTERFACE:include/${PROJECT_NAME}>)
target_link_libraries(${PROJECT_NAME} PUBLIC rclcpp_standalone::rclcpp_standalone CycloneDDS::ddsc)
target_compile_features(${PROJECT_NAME} PUBLIC cxx_std_17)

install(DIRECTORY standalone/include/ DESTINATION include/${PROJECT_NAME})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestrune_protocol/msg/dds_/DiagnosticEvent_.h
  ${CMAKE_CURRENT_BINARY_DIR}/kestrune_protocol/msg/dds_/FlowPoint_.h
  DESTINATION include/${PROJECT_NAME}/kestrune_protocol/msg/dds_)
install(DIRECTORY standalone/idl/ DESTINATION share/${PROJECT_NAME}/idl)
install(TARGETS ${PROJECT_NAME} EXPORT export_${PROJECT_NAME}
  ARCHIVE DESTINATION lib
  LIBRARY DESTINATION lib
  RUNTIME DESTINATION bin)
ament_export_targets(export_${PROJECT_NAME} HAS_LIBRARY_TARGET)
ament_export_dependencies(rclcpp_standalone CycloneDDS)
