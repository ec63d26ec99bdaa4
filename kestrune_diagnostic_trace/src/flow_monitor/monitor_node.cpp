#include "monitor_node.hpp"

#include <set>
#include <string>

#include <kestrune_protocol/msg/diagnostic_event.hpp>

namespace kestrune {
namespace monitor {

namespace {

// Flows publish keep-last 1; a deeper reader queue rides out a burst of events
// arriving while the model is locked by a page.
constexpr size_t kEventQueueDepth = 200;

}  // namespace

MonitorNode::MonitorNode(FlowModel& model, const trace::ParsedFlowConfig& config)
    : node_(std::make_shared<rclcpp::Node>("flow_monitor")) {
  subscriptions_.push_back(SubscribeDiagnostics(*node_, model));
  std::set<std::string> topics;
  for (const auto& flow : config.flows) {
    if (flow->diag_topic.empty() || !topics.insert(flow->diag_topic).second) {
      continue;
    }
    subscriptions_.push_back(node_->create_subscription<kestrune_protocol::msg::DiagnosticEvent>(
        flow->diag_topic, rclcpp::QoS(kEventQueueDepth),
        [&model](const kestrune_protocol::msg::DiagnosticEvent& event) {
          EventReport report;
          report.stamp_sec = event.stamp.sec;
          report.stamp_nanosec = event.stamp.nanosec;
          report.source_id = event.source_id;
          report.id = event.id;
          report.status = event.status;
          report.msg = event.msg;
          report.kind = event.kind;
          report.verdict = event.verdict;
          report.point_id = event.point_id;
          report.duration_ms = event.duration_ms;
          model.AddEvent(report);
        }));
  }
}

}  // namespace monitor
}  // namespace kestrune
