# Standalone build of the message package: the C++ message type for the
# standalone rclcpp layer, at the include path rosidl would generate.
find_package(rclcpp_standalone REQUIRED)

add_library(${PROJECT_NAME} INTERFACE)
target_include_directories(${PROJECT_NAME} INTERFACE
  $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/standalone/include>
  $<INSTALL_INTERFACE:include/${PROJECT_NAME}>)
target_link_libraries(${PROJECT_NAME} INTERFACE rclcpp_standalone::rclcpp_standalone)
target_compile_features(${PROJECT_NAME} INTERFACE cxx_std_17)

install(DIRECTORY standalone/include/ DESTINATION include/${PROJECT_NAME})
install(TARGETS ${PROJECT_NAME} EXPORT export_${PROJECT_NAME})
ament_export_targets(export_${PROJECT_NAME})
ament_export_dependencies(rclcpp_standalone)
