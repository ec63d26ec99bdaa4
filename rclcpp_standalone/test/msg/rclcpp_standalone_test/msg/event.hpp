#ifndef RCLCPP_STANDALONE_TEST__MSG__EVENT_HPP_
#define RCLCPP_STANDALONE_TEST__MSG__EVENT_HPP_

#include <cstdint>
#include <string>

#include <rclcpp_standalone_test/msg/dds_/Event_.h>
#include <builtin_interfaces/msg/time.hpp>
#include <rclcpp/detail/dds_type_support.hpp>

namespace rclcpp_standalone_test {
namespace msg {

/// A message with the fields of the flow tracer's diagnostic event.
struct Event {
  builtin_interfaces::msg::Time stamp;
  std::string source_id;
  int32_t id{0};
  int32_t status{0};
  std::string msg;

  bool operator==(const Event& other) const {
    return stamp == other.stamp && source_id == other.source_id && id == other.id &&
           status == other.status && msg == other.msg;
  }
};

}  // namespace msg
}  // namespace rclcpp_standalone_test

namespace rclcpp {
namespace detail {

template <>
struct DdsTypeSupport<rclcpp_standalone_test::msg::Event> {
  using DdsType = rclcpp_standalone_test_msg_dds__Event_;
  using TimeSupport = DdsTypeSupport<builtin_interfaces::msg::Time>;

  static const dds_topic_descriptor_t& descriptor() {
    return rclcpp_standalone_test_msg_dds__Event__desc;
  }

  static void to_dds(const rclcpp_standalone_test::msg::Event& message, DdsType& sample) {
    TimeSupport::to_dds(message.stamp, sample.stamp);
    sample.source_id = const_cast<char*>(message.source_id.c_str());
    sample.id = message.id;
    sample.status = message.status;
    sample.msg = const_cast<char*>(message.msg.c_str());
  }

  static void from_dds(const DdsType& sample, rclcpp_standalone_test::msg::Event& message) {
    TimeSupport::from_dds(sample.stamp, message.stamp);
    message.source_id = sample.source_id != nullptr ? sample.source_id : "";
    message.id = sample.id;
    message.status = sample.status;
    message.msg = sample.msg != nullptr ? sample.msg : "";
  }
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP_STANDALONE_TEST__MSG__EVENT_HPP_
