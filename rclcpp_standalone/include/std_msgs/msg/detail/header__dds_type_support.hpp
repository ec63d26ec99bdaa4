#ifndef STD_MSGS__MSG__DETAIL__HEADER__DDS_TYPE_SUPPORT_HPP_
#define STD_MSGS__MSG__DETAIL__HEADER__DDS_TYPE_SUPPORT_HPP_

#include <std_msgs/msg/dds_/Header_.h>

#include "builtin_interfaces/msg/time.hpp"
#include "rclcpp/detail/dds_type_support.hpp"
#include "std_msgs/msg/header.hpp"

namespace rclcpp {
namespace detail {

template <>
struct DdsTypeSupport<std_msgs::msg::Header> {
  using DdsType = std_msgs_msg_dds__Header_;

  static const dds_topic_descriptor_t& descriptor() { return std_msgs_msg_dds__Header__desc; }

  /// The sample borrows the header's frame id.
  static void to_dds(const std_msgs::msg::Header& message, DdsType& sample) {
    DdsTypeSupport<builtin_interfaces::msg::Time>::to_dds(message.stamp, sample.stamp);
    sample.frame_id = const_cast<char*>(message.frame_id.c_str());
  }

  static void from_dds(const DdsType& sample, std_msgs::msg::Header& message) {
    DdsTypeSupport<builtin_interfaces::msg::Time>::from_dds(sample.stamp, message.stamp);
    message.frame_id = sample.frame_id != nullptr ? sample.frame_id : "";
  }
};

}  // namespace detail
}  // namespace rclcpp

#endif  // STD_MSGS__MSG__DETAIL__HEADER__DDS_TYPE_SUPPORT_HPP_
