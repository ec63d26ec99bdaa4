# Chooses the ROS 2 client library: the real rclcpp when it is installed,
# otherwise the standalone layer with the same headers. Sets
#   KESTRUNE_STANDALONE          ON without ROS 2
#   KESTRUNE_CLIENT_TARGETS      what the library links for rclcpp and the message
#   KESTRUNE_CLIENT_PACKAGES     the packages downstream users must find again
find_package(rclcpp QUIET)
find_package(kestrune_protocol REQUIRED)

if(rclcpp_FOUND)
  set(KESTRUNE_STANDALONE OFF)
  set(KESTRUNE_CLIENT_TARGETS rclcpp::rclcpp ${kestrune_protocol_TARGETS})
  set(KESTRUNE_CLIENT_PACKAGES rclcpp kestrune_protocol)
else()
  find_package(rclcpp_standalone REQUIRED)
  set(KESTRUNE_STANDALONE ON)
  set(KESTRUNE_CLIENT_TARGETS
    rclcpp_standalone::rclcpp_standalone kestrune_protocol::kestrune_protocol)
  set(KESTRUNE_CLIENT_PACKAGES rclcpp_standalone kestrune_protocol)
endif()
message(STATUS "kestrune_diagnostic_trace: standalone mode ${KESTRUNE_STANDALONE}")
