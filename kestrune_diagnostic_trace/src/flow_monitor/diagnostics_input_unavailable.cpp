// Standalone builds whose rclcpp layer does not carry diagnostic_msgs yet: the
// monitor then shows configured flows and their events only.
#include "kestrune_diagnostic_trace/logger.hpp"
#include "monitor_node.hpp"

namespace kestrune {
namespace monitor {

std::shared_ptr<void> SubscribeDiagnostics(rclcpp::Node&, FlowModel&) {
  KLOG_WARN("This build has no diagnostic_msgs: /diagnostics is not read, levels stay STALE");
  return nullptr;
}

}  // namespace monitor
}  // namespace kestrune
