#ifndef DIAGNOSTIC_MSGS__MSG__DIAGNOSTIC_ARRAY_HPP_
#define DIAGNOSTIC_MSGS__MSG__DIAGNOSTIC_ARRAY_HPP_

#include <memory>
#include <vector>

#include "diagnostic_msgs/msg/diagnostic_status.hpp"
#include "std_msgs/msg/header.hpp"

namespace diagnostic_msgs {
namespace msg {

/// The statuses one node reports at one time, as published on /diagnostics.
struct DiagnosticArray {
  using SharedPtr = std::shared_ptr<DiagnosticArray>;
  using ConstSharedPtr = std::shared_ptr<const DiagnosticArray>;

  std_msgs::msg::Header header;
  std::vector<DiagnosticStatus> status;

  bool operator==(const DiagnosticArray& other) const {
    return header == other.header && status == other.status;
  }
  bool operator!=(const DiagnosticArray& other) const { return !(*this == other); }
};

}  // namespace msg
}  // namespace diagnostic_msgs

// After the struct: its DDS mapping needs the complete type.
#include "diagnostic_msgs/msg/detail/diagnostic_array__dds_type_support.hpp"

#endif  // DIAGNOSTIC_MSGS__MSG__DIAGNOSTIC_ARRAY_HPP_
