#ifndef BUILTIN_INTERFACES__MSG__DETAIL__TIME__DDS_TYPE_SUPPORT_HPP_
#define BUILTIN_INTERFACES__MSG__DETAIL__TIME__DDS_TYPE_SUPPORT_HPP_

#include <builtin_interfaces/msg/dds_/Time_.h>

#include "builtin_interfaces/msg/time.hpp"
#include "rclcpp/detail/dds_type_support.hpp"

namespace rclcpp {
namespace detail {

template <>
struct DdsTypeSupport<builtin_interfaces::msg::Time> {
  using DdsType = builtin_interfaces_msg_dds__Time_;

  static const dds_topic_descriptor_t& descriptor() {
    return builtin_interfaces_msg_dds__Time__desc;
  }

  static void to_dds(const builtin_interfaces::msg::Time& message, DdsType& sample) {
    sample.sec = message.sec;
    sample.nanosec = message.nanosec;
  }

  static void from_dds(const DdsType& sample, builtin_interfaces::msg::Time& message) {
    message.sec = sample.sec;
    message.nanosec = sample.nanosec;
  }
};

}  // namespace detail
}  // namespace rclcpp

#endif  // BUILTIN_INTERFACES__MSG__DETAIL__TIME__DDS_TYPE_SUPPORT_HPP_
