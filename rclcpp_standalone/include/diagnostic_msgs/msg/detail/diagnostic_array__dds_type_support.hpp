#ifndef DIAGNOSTIC_MSGS__MSG__DETAIL__DIAGNOSTIC_ARRAY__DDS_TYPE_SUPPORT_HPP_
#define DIAGNOSTIC_MSGS__MSG__DETAIL__DIAGNOSTIC_ARRAY__DDS_TYPE_SUPPORT_HPP_

#include <diagnostic_msgs/msg/dds_/DiagnosticArray_.h>

#include <cstdint>
#include <vector>

#include "diagnostic_msgs/msg/diagnostic_array.hpp"
#include "rclcpp/detail/dds_type_support.hpp"
#include "std_msgs/msg/header.hpp"

namespace rclcpp {
namespace detail {

template <>
struct DdsTypeSupport<diagnostic_msgs::msg::DiagnosticArray> {
  using DdsType = diagnostic_msgs_msg_dds__DiagnosticArray_;

  /// The sequences' elements for one write: the statuses, and each status's values.
  struct Buffers {
    std::vector<diagnostic_msgs_msg_dds__DiagnosticStatus_> status;
    std::vector<std::vector<diagnostic_msgs_msg_dds__KeyValue_>> values;
  };

  static const dds_topic_descriptor_t& descriptor() {
    return diagnostic_msgs_msg_dds__DiagnosticArray__desc;
  }

  /// The sample borrows the message's strings and the buffers' elements;
  /// `_release` false tells Cyclone the buffers are not its own to free.
  static void to_dds(const diagnostic_msgs::msg::DiagnosticArray& message, DdsType& sample,
                     Buffers& buffers) {
    DdsTypeSupport<std_msgs::msg::Header>::to_dds(message.header, sample.header);
    buffers.status.assign(message.status.size(), diagnostic_msgs_msg_dds__DiagnosticStatus_{});
    buffers.values.resize(message.status.size());
    for (size_t i = 0; i < message.status.size(); ++i) {
      const auto& status = message.status[i];
      auto& out = buffers.status[i];
      out.level = status.level;
      out.name = const_cast<char*>(status.name.c_str());
      out.message = const_cast<char*>(status.message.c_str());
      out.hardware_id = const_cast<char*>(status.hardware_id.c_str());
      auto& values = buffers.values[i];
      values.clear();
      for (const auto& value : status.values) {
        values.push_back(
            {const_cast<char*>(value.key.c_str()), const_cast<char*>(value.value.c_str())});
      }
      out.values._maximum = out.values._length = static_cast<uint32_t>(values.size());
      out.values._buffer = values.data();
      out.values._release = false;
    }
    sample.status._maximum = sample.status._length = static_cast<uint32_t>(buffers.status.size());
    sample.status._buffer = buffers.status.data();
    sample.status._release = false;
  }

  static void from_dds(const DdsType& sample, diagnostic_msgs::msg::DiagnosticArray& message) {
    DdsTypeSupport<std_msgs::msg::Header>::from_dds(sample.header, message.header);
    message.status.resize(sample.status._length);
    for (uint32_t i = 0; i < sample.status._length; ++i) {
      const auto& in = sample.status._buffer[i];
      auto& status = message.status[i];
      status.level = in.level;
      status.name = text(in.name);
      status.message = text(in.message);
      status.hardware_id = text(in.hardware_id);
      status.values.resize(in.values._length);
      for (uint32_t j = 0; j < in.values._length; ++j) {
        status.values[j].key = text(in.values._buffer[j].key);
        status.values[j].value = text(in.values._buffer[j].value);
      }
    }
  }

 private:
  static const char* text(const char* sample_text) {
    return sample_text != nullptr ? sample_text : "";
  }
};

}  // namespace detail
}  // namespace rclcpp

#endif  // DIAGNOSTIC_MSGS__MSG__DETAIL__DIAGNOSTIC_ARRAY__DDS_TYPE_SUPPORT_HPP_
