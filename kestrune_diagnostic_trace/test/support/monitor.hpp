#ifndef SUPPORT__MONITOR_HPP_
#define SUPPORT__MONITOR_HPP_

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <kestrune_diagnostic_trace/flow_config.hpp>
#include <kestrune_diagnostic_trace/flow_report.hpp>

#include "flow_model.hpp"

namespace kestrune_test {

/// Two flows sharing event ids 11 and 12 (ids repeat across flows), the
/// first with a point visited twice under two ids and an optional point.
inline const char kMonitorConfig[] = R"(workflows:
  - flow_id: pick
    diag_topic: /test/monitor/pick
    event_id: 10
    flow_points:
      - {point_id: open, event_id: 11}
      - {point_id: look, event_id: 12, optional: true}
      - {point_id: grasp, event_id: 13}
      - {point_id: open, event_id: 14}
  - flow_id: dock
    diag_topic: /test/monitor/dock
    event_id: 20
    flow_points:
      - {point_id: approach, event_id: 11}
      - {point_id: latch, event_id: 12}
)";

inline kestrune::trace::ParsedFlowConfig MonitorConfig() {
  return kestrune::trace::ParseFlowConfig(kMonitorConfig);
}

/// A clock the test moves by hand.
struct ManualClock {
  kestrune::monitor::SteadyClock::time_point now{};
  kestrune::monitor::FlowModel::Clock function() {
    return [this] { return now; };
  }
};

/// A status as a node publishes it for `flow_id`.
inline kestrune::monitor::StatusReport FlowStatus(
    const std::string& node, const std::string& flow_id, uint8_t level,
    std::vector<std::pair<std::string, std::string>> extra = {}) {
  kestrune::monitor::StatusReport status;
  status.level = level;
  status.name = node + ": " + flow_id;
  status.message = "message of " + flow_id;
  status.hardware_id = node;
  status.values = {{"flow id", flow_id}, {"state", "idle"}};
  status.values.insert(status.values.end(), extra.begin(), extra.end());
  return status;
}

inline kestrune::monitor::EventReport FlowEvent(const std::string& flow_id, uint32_t id,
                                                uint8_t status, const std::string& msg,
                                                int32_t sec = 100, uint32_t nanosec = 0) {
  kestrune::monitor::EventReport event;
  event.stamp_sec = sec;
  event.stamp_nanosec = nanosec;
  event.source_id = flow_id;
  event.id = id;
  event.status = status;
  event.msg = msg;
  return event;
}

/// A verdict event as CheckFlow sends it: the flow's id, kind, verdict, the
/// point concerned and the run's duration.
inline kestrune::monitor::EventReport VerdictEvent(const std::string& flow_id, uint32_t id,
                                                   kestrune::trace::FlowCheckStatus verdict,
                                                   const std::string& point_id,
                                                   uint64_t duration_ms, int32_t sec = 100) {
  const bool passed = verdict == kestrune::trace::FlowCheckStatus::SUCCESS;
  auto event = FlowEvent(flow_id, id, passed ? 0 : 1,
                         passed ? "Succeed flow: " + flow_id
                                : "Status Failed, point " + point_id + " ... in flow " + flow_id,
                         sec);
  event.kind = static_cast<uint8_t>(kestrune::trace::report::EventKind::kVerdict);
  event.verdict = static_cast<uint8_t>(verdict);
  event.point_id = point_id;
  event.duration_ms = duration_ms;
  return event;
}

/// An event of `kind` about `point_id`.
inline kestrune::monitor::EventReport KindEvent(const std::string& flow_id, uint32_t id,
                                                kestrune::trace::report::EventKind kind,
                                                uint8_t status, const std::string& point_id,
                                                int32_t sec = 100) {
  auto event = FlowEvent(flow_id, id, status, "text of " + point_id, sec);
  event.kind = static_cast<uint8_t>(kind);
  event.point_id = point_id;
  return event;
}

/// The view of the flow with `flow_id` among `views`; fails the test when absent.
inline kestrune::monitor::FlowView FindFlow(const std::vector<kestrune::monitor::FlowView>& views,
                                            const std::string& flow_id) {
  for (const auto& view : views) {
    if (view.flow_id == flow_id) {
      return view;
    }
  }
  ADD_FAILURE() << "no flow '" << flow_id << "'";
  return {};
}

}  // namespace kestrune_test

#endif  // SUPPORT__MONITOR_HPP_
