#ifndef SUPPORT__DIAGNOSTICS_HPP_
#define SUPPORT__DIAGNOSTICS_HPP_

#include <string>

#include <diagnostic_msgs/msg/diagnostic_array.hpp>

namespace kestrune_test {

/// The status a node "arm" publishes on /diagnostics for its flow "pick" after
/// a failed point: an ERROR with the flow's id as a value.
inline diagnostic_msgs::msg::DiagnosticStatus PickFailedStatus() {
  diagnostic_msgs::msg::DiagnosticStatus status;
  status.level = diagnostic_msgs::msg::DiagnosticStatus::ERROR;
  status.name = "arm: pick";
  status.message = "failed at 'grasp' (point failed)";
  status.hardware_id = "arm";
  diagnostic_msgs::msg::KeyValue value;
  value.key = "flow id";
  value.value = "pick";
  status.values.push_back(value);
  return status;
}

}  // namespace kestrune_test

#endif  // SUPPORT__DIAGNOSTICS_HPP_
