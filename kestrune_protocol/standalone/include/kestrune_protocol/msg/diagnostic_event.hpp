#ifndef KESTRUNE_PROTOCOL__MSG__DIAGNOSTIC_EVENT_HPP_
#define KESTRUNE_PROTOCOL__MSG__DIAGNOSTIC_EVENT_HPP_

#include <cstdint>
#include <memory>
#include <string>

#include <builtin_interfaces/msg/time.hpp>

namespace kestrune_protocol {
namespace msg {

/// The standalone counterpart of the type rosidl generates from msg/DiagnosticEvent.msg;
/// it travels over DDS as kestrune_protocol::msg::dds_::DiagnosticEvent_.
struct DiagnosticEvent {
  using SharedPtr = std::shared_ptr<DiagnosticEvent>;
  using ConstSharedPtr = std::shared_ptr<const DiagnosticEvent>;

  static constexpr uint8_t KIND_POINT = 0u;
  static constexpr uint8_t KIND_TIMEOUT = 1u;
  static constexpr uint8_t KIND_VERDICT = 2u;
  static constexpr uint8_t KIND_STALL = 3u;
  static constexpr uint8_t KIND_OVER_BUDGET = 4u;

  builtin_interfaces::msg::Time stamp;
  std::string source_id;
  int32_t id{0};
  int32_t status{0};
  std::string msg;
  uint8_t kind{0};
  uint8_t verdict{0};
  std::string point_id;
  uint64_t duration_ms{0};

  bool operator==(const DiagnosticEvent& other) const {
    return stamp == other.stamp && source_id == other.source_id && id == other.id &&
           status == other.status && msg == other.msg && kind == other.kind &&
           verdict == other.verdict && point_id == other.point_id &&
           duration_ms == other.duration_ms;
  }
  bool operator!=(const DiagnosticEvent& other) const { return !(*this == other); }
};

}  // namespace msg
}  // namespace kestrune_protocol

// After the struct: its DDS mapping needs the complete type.
#include "kestrune_protocol/msg/detail/diagnostic_event__dds_type_support.hpp"

#endif  // KESTRUNE_PROTOCOL__MSG__DIAGNOSTIC_EVENT_HPP_
