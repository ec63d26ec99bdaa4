#ifndef KESTRUNE_PROTOCOL__MSG__FLOW_POINT_HPP_
#define KESTRUNE_PROTOCOL__MSG__FLOW_POINT_HPP_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <builtin_interfaces/msg/time.hpp>
#include <diagnostic_msgs/msg/key_value.hpp>

namespace kestrune_protocol {
namespace msg {

/// The standalone counterpart of the type rosidl generates from msg/FlowPoint.msg;
/// it travels over DDS as kestrune_protocol::msg::dds_::FlowPoint_.
struct FlowPoint {
  using SharedPtr = std::shared_ptr<FlowPoint>;
  using ConstSharedPtr = std::shared_ptr<const FlowPoint>;

  static constexpr uint8_t POINT = 0u;
  static constexpr uint8_t CHECK = 1u;
  static constexpr uint8_t RESET = 2u;

  builtin_interfaces::msg::Time stamp;
  std::string flow_id;
  std::string point_id;
  bool success{false};
  std::vector<diagnostic_msgs::msg::KeyValue> metadata;
  std::string source;
  uint64_t sequence{0};
  uint8_t kind{0};

  bool operator==(const FlowPoint& other) const {
    return stamp == other.stamp && flow_id == other.flow_id && point_id == other.point_id &&
           success == other.success && metadata == other.metadata && source == other.source &&
           sequence == other.sequence && kind == other.kind;
  }
  bool operator!=(const FlowPoint& other) const { return !(*this == other); }
};

}  // namespace msg
}  // namespace kestrune_protocol

// After the struct: its DDS mapping needs the complete type.
#include "kestrune_protocol/msg/detail/flow_point__dds_type_support.hpp"

#endif  // KESTRUNE_PROTOCOL__MSG__FLOW_POINT_HPP_
