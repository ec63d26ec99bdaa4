#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_NODE_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_NODE_HPP_

#include <memory>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "flow_model.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"

namespace kestrune {
namespace monitor {

/// The monitor's ROS side: the node `flow_monitor`, subscribed to
/// /diagnostics and to the event topic of every configured flow, feeding the model.
///
/// Callbacks run in whichever thread spins node(); `model` must outlive this object.
class MonitorNode {
 public:
  /// Needs rclcpp initialised; throws what rclcpp throws for a refused topic.
  MonitorNode(FlowModel& model, const trace::ParsedFlowConfig& config);

  std::shared_ptr<rclcpp::Node> node() const { return node_; }

 private:
  std::shared_ptr<rclcpp::Node> node_;
  /// Subscriptions, type-erased: they only have to live as long as the node.
  std::vector<std::shared_ptr<void>> subscriptions_;
};

/// Subscribes `node` to /diagnostics, feeding `model`; the returned handle keeps
/// the subscription alive.
std::shared_ptr<void> SubscribeDiagnostics(rclcpp::Node& node, FlowModel& model);

}  // namespace monitor
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_NODE_HPP_
