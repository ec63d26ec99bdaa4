# The ROS 2 client library of the build mode: the real rclcpp, or the
# standalone layer with the same headers. Sets
#   KESTRUNE_CLIENT_TARGETS      what the library links for rclcpp and the messages
#   KESTRUNE_CLIENT_PACKAGES     the packages downstream users must find again
find_package(kestrune_protocol REQUIRED)

if(NOT KESTRUNE_STANDALONE)
  find_package(rclcpp REQUIRED)
  find_package(diagnostic_msgs REQUIRED)
  set(KESTRUNE_CLIENT_TARGETS
    rclcpp::rclcpp ${kestrune_protocol_TARGETS} ${diagnostic_msgs_TARGETS})
  set(KESTRUNE_CLIENT_PACKAGES rclcpp kestrune_protocol diagnostic_msgs)
else()
  # The standalone layer also brings diagnostic_msgs.
  find_package(rclcpp_standalone REQUIRED)
  set(KESTRUNE_CLIENT_TARGETS
    rclcpp_standalone::rclcpp_standalone kestrune_protocol::kestrune_protocol)
  set(KESTRUNE_CLIENT_PACKAGES rclcpp_standalone kestrune_protocol)
endif()
