#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__CHECKER_STATUS_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__CHECKER_STATUS_HPP_

#include <chrono>
#include <string>

#include <diagnostic_msgs/msg/diagnostic_status.hpp>

#include "point_checker.hpp"

namespace kestrune {
namespace checker {

/// flow_checker's own health on /diagnostics: one status from its counts, with
/// the keys of flow_report.hpp.
///
/// WARN for a while after points were lost, came late or named unknown flows,
/// OK otherwise; the values hold the totals since the start. Not thread-safe.
class CheckerStatus {
 public:
  /// How long one lost, late or unknown point keeps the status at WARN.
  static constexpr std::chrono::seconds kTroubleHold{10};

  /// `name` is the status name; `topic` and `reorder_window` are shown as values.
  CheckerStatus(std::string name, std::string hardware_id, std::string topic,
                std::chrono::milliseconds reorder_window);

  diagnostic_msgs::msg::DiagnosticStatus Assess(const CheckerCounts& counts, SteadyTime now);

 private:
  const std::string name_;
  const std::string hardware_id_;
  const std::string topic_;
  const std::chrono::milliseconds reorder_window_;
  uint64_t troubles_seen_{0};
  SteadyTime last_trouble_;
  bool troubled_{false};
};

}  // namespace checker
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__CHECKER_STATUS_HPP_
