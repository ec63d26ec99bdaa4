#ifndef KESTRUNE_PROTOCOL__MSG__DETAIL__DIAGNOSTIC_EVENT__DDS_TYPE_SUPPORT_HPP_
#define KESTRUNE_PROTOCOL__MSG__DETAIL__DIAGNOSTIC_EVENT__DDS_TYPE_SUPPORT_HPP_

#include <kestrune_protocol/msg/dds_/DiagnosticEvent_.h>
#include <builtin_interfaces/msg/time.hpp>
#include <rclcpp/detail/dds_type_support.hpp>

#include "kestrune_protocol/msg/diagnostic_event.hpp"

namespace rclcpp {
namespace detail {

template <>
struct DdsTypeSupport<kestrune_protocol::msg::DiagnosticEvent> {
  using DdsType = kestrune_protocol_msg_dds__DiagnosticEvent_;

  static const dds_topic_descriptor_t& descriptor() {
    return kestrune_protocol_msg_dds__DiagnosticEvent__desc;
  }

  /// The sample borrows the event's strings.
  static void to_dds(const kestrune_protocol::msg::DiagnosticEvent& message, DdsType& sample) {
    DdsTypeSupport<builtin_interfaces::msg::Time>::to_dds(message.stamp, sample.stamp);
    sample.source_id = const_cast<char*>(message.source_id.c_str());
    sample.id = message.id;
    sample.status = message.status;
    sample.msg = const_cast<char*>(message.msg.c_str());
    sample.kind = message.kind;
    sample.verdict = message.verdict;
    sample.point_id = const_cast<char*>(message.point_id.c_str());
    sample.duration_ms = message.duration_ms;
  }

  static void from_dds(const DdsType& sample, kestrune_protocol::msg::DiagnosticEvent& message) {
    DdsTypeSupport<builtin_interfaces::msg::Time>::from_dds(sample.stamp, message.stamp);
    message.source_id = sample.source_id != nullptr ? sample.source_id : "";
    message.id = sample.id;
    message.status = sample.status;
    message.msg = sample.msg != nullptr ? sample.msg : "";
    message.kind = sample.kind;
    message.verdict = sample.verdict;
    message.point_id = sample.point_id != nullptr ? sample.point_id : "";
    message.duration_ms = sample.duration_ms;
  }
};

}  // namespace detail
}  // namespace rclcpp

#endif  // KESTRUNE_PROTOCOL__MSG__DETAIL__DIAGNOSTIC_EVENT__DDS_TYPE_SUPPORT_HPP_
