#include <diagnostic_msgs/msg/diagnostic_array.hpp>

#include "monitor_node.hpp"

namespace kestrune {
namespace monitor {

namespace {

// Every node publishes its array keep-last 1; several nodes may publish at once.
constexpr size_t kDiagnosticsQueueDepth = 50;

}  // namespace

std::shared_ptr<void> SubscribeDiagnostics(rclcpp::Node& node, FlowModel& model) {
  return node.create_subscription<diagnostic_msgs::msg::DiagnosticArray>(
      "/diagnostics", rclcpp::QoS(kDiagnosticsQueueDepth),
      [&model](const diagnostic_msgs::msg::DiagnosticArray& array) {
        for (const auto& status : array.status) {
          StatusReport report;
          report.level = static_cast<uint8_t>(status.level);
          report.name = status.name;
          report.message = status.message;
          report.hardware_id = status.hardware_id;
          for (const auto& value : status.values) {
            report.values.emplace_back(value.key, value.value);
          }
          model.AddStatus(report);
        }
      });
}

}  // namespace monitor
}  // namespace kestrune
