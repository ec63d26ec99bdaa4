#ifndef DIAGNOSTIC_MSGS__MSG__DIAGNOSTIC_STATUS_HPP_
#define DIAGNOSTIC_MSGS__MSG__DIAGNOSTIC_STATUS_HPP_

#include <memory>
#include <string>
#include <vector>

#include "diagnostic_msgs/msg/key_value.hpp"

namespace diagnostic_msgs {
namespace msg {

/// The state of one component: its level, a summary and named values.
struct DiagnosticStatus {
  using SharedPtr = std::shared_ptr<DiagnosticStatus>;
  using ConstSharedPtr = std::shared_ptr<const DiagnosticStatus>;

  static constexpr unsigned char OK = 0u;
  static constexpr unsigned char WARN = 1u;
  static constexpr unsigned char ERROR = 2u;
  static constexpr unsigned char STALE = 3u;

  unsigned char level{0};
  std::string name;
  std::string message;
  std::string hardware_id;
  std::vector<KeyValue> values;

  bool operator==(const DiagnosticStatus& other) const {
    return level == other.level && name == other.name && message == other.message &&
           hardware_id == other.hardware_id && values == other.values;
  }
  bool operator!=(const DiagnosticStatus& other) const { return !(*this == other); }
};

}  // namespace msg
}  // namespace diagnostic_msgs

#endif  // DIAGNOSTIC_MSGS__MSG__DIAGNOSTIC_STATUS_HPP_
