// flow_checker's own status on /diagnostics.
#include "checker_status.hpp"

#include <utility>

#include <fmt/format.h>

#include "kestrune_diagnostic_trace/flow_report.hpp"

namespace kestrune {
namespace checker {

namespace report = trace::report;

namespace {

diagnostic_msgs::msg::KeyValue Value(const char* key, std::string value) {
  diagnostic_msgs::msg::KeyValue entry;
  entry.key = key;
  entry.value = std::move(value);
  return entry;
}

}  // namespace

CheckerStatus::CheckerStatus(std::string name, std::string hardware_id, std::string topic,
                             std::chrono::milliseconds reorder_window)
    : name_(std::move(name)),
      hardware_id_(std::move(hardware_id)),
      topic_(std::move(topic)),
      reorder_window_(reorder_window) {}

diagnostic_msgs::msg::DiagnosticStatus CheckerStatus::Assess(const CheckerCounts& counts,
                                                             SteadyTime now) {
  const uint64_t troubles = counts.lost + counts.late + counts.unknown;
  if (troubles != troubles_seen_) {
    troubles_seen_ = troubles;
    last_trouble_ = now;
    troubled_ = true;
  }
  const bool warn = troubled_ && now - last_trouble_ < kTroubleHold;

  diagnostic_msgs::msg::DiagnosticStatus status;
  status.name = name_;
  status.hardware_id = hardware_id_;
  status.level = warn ? diagnostic_msgs::msg::DiagnosticStatus::WARN
                      : diagnostic_msgs::msg::DiagnosticStatus::OK;
  if (warn) {
    status.message = fmt::format(
        "points lost, late or of unknown flows in the last {} s: "
        "{} lost, {} late, {} unknown in all",
        kTroubleHold.count(), counts.lost, counts.late, counts.unknown);
  } else if (counts.received == 0) {
    status.message = "waiting for points on " + topic_;
  } else {
    status.message = fmt::format("{} points from {} sender{}", counts.received, counts.senders,
                                 counts.senders == 1 ? "" : "s");
  }
  status.values = {
      Value(report::kCheckerPointsTopic, topic_),
      Value(report::kCheckerReceived, std::to_string(counts.received)),
      Value(report::kCheckerLate, std::to_string(counts.late)),
      Value(report::kCheckerLost, std::to_string(counts.lost)),
      Value(report::kCheckerUnknown, std::to_string(counts.unknown)),
      Value(report::kCheckerSenders, std::to_string(counts.senders)),
      Value(report::kCheckerLargestDelay,
            counts.largest_delay_ns ? fmt::format("{:.1f} ms", *counts.largest_delay_ns / 1e6)
                                    : "none"),
      Value(report::kCheckerReorderWindow, fmt::format("{} ms", reorder_window_.count())),
  };
  return status;
}

}  // namespace checker
}  // namespace kestrune
