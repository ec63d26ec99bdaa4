#ifndef KESTRUNE_PROTOCOL__MSG__DETAIL__FLOW_POINT__DDS_TYPE_SUPPORT_HPP_
#define KESTRUNE_PROTOCOL__MSG__DETAIL__FLOW_POINT__DDS_TYPE_SUPPORT_HPP_

#include <kestrune_protocol/msg/dds_/FlowPoint_.h>
#include <builtin_interfaces/msg/time.hpp>
#include <rclcpp/detail/dds_type_support.hpp>

#include <cstdint>
#include <vector>

#include "kestrune_protocol/msg/flow_point.hpp"

namespace rclcpp {
namespace detail {

template <>
struct DdsTypeSupport<kestrune_protocol::msg::FlowPoint> {
  using DdsType = kestrune_protocol_msg_dds__FlowPoint_;

  /// The metadata sequence's elements for one write.
  struct Buffers {
    std::vector<diagnostic_msgs_msg_dds__KeyValue_> metadata;
  };

  static const dds_topic_descriptor_t& descriptor() {
    return kestrune_protocol_msg_dds__FlowPoint__desc;
  }

  /// The sample borrows the message's strings and the buffers' elements;
  /// `_release` false tells Cyclone the buffer is not its own to free.
  static void to_dds(const kestrune_protocol::msg::FlowPoint& message, DdsType& sample,
                     Buffers& buffers) {
    DdsTypeSupport<builtin_interfaces::msg::Time>::to_dds(message.stamp, sample.stamp);
    sample.flow_id = const_cast<char*>(message.flow_id.c_str());
    sample.point_id = const_cast<char*>(message.point_id.c_str());
    sample.success = message.success;
    buffers.metadata.clear();
    buffers.metadata.reserve(message.metadata.size());
    for (const auto& entry : message.metadata) {
      buffers.metadata.push_back(
          {const_cast<char*>(entry.key.c_str()), const_cast<char*>(entry.value.c_str())});
    }
    sample.metadata._maximum = sample.metadata._length =
        static_cast<uint32_t>(buffers.metadata.size());
    sample.metadata._buffer = buffers.metadata.data();
    sample.metadata._release = false;
    sample.source = const_cast<char*>(message.source.c_str());
    sample.sequence = message.sequence;
    sample.kind = message.kind;
  }

  static void from_dds(const DdsType& sample, kestrune_protocol::msg::FlowPoint& message) {
    DdsTypeSupport<builtin_interfaces::msg::Time>::from_dds(sample.stamp, message.stamp);
    message.flow_id = text(sample.flow_id);
    message.point_id = text(sample.point_id);
    message.success = sample.success;
    message.metadata.resize(sample.metadata._length);
    for (uint32_t i = 0; i < sample.metadata._length; ++i) {
      message.metadata[i].key = text(sample.metadata._buffer[i].key);
      message.metadata[i].value = text(sample.metadata._buffer[i].value);
    }
    message.source = text(sample.source);
    message.sequence = sample.sequence;
    message.kind = sample.kind;
  }

 private:
  static const char* text(const char* sample_text) {
    return sample_text != nullptr ? sample_text : "";
  }
};

}  // namespace detail
}  // namespace rclcpp

#endif  // KESTRUNE_PROTOCOL__MSG__DETAIL__FLOW_POINT__DDS_TYPE_SUPPORT_HPP_
