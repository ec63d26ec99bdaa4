#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__CHECKER_NODE_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__CHECKER_NODE_HPP_

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <diagnostic_msgs/msg/diagnostic_array.hpp>
#include <rclcpp/rclcpp.hpp>

#include "checker_options.hpp"
#include "checker_status.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "point_checker.hpp"

namespace kestrune {
namespace checker {

/// flow_checker's node: the engine initialised with it from the flow file,
/// the points subscription, the thread that releases points from the reorder
/// window into the engine, and the checker's own status on /diagnostics.
///
/// Spin node() on one thread; the release thread is the checker's own.
class CheckerNode {
 public:
  /// Needs rclcpp::init. `config` is the parsed flow file at options.config_path.
  /// Throws what rclcpp throws for a topic it refuses.
  CheckerNode(const CheckerOptions& options, const trace::ParsedFlowConfig& config);
  /// Stops the release thread and records every point still held.
  ~CheckerNode();

  CheckerNode(const CheckerNode&) = delete;
  CheckerNode& operator=(const CheckerNode&) = delete;

  const std::shared_ptr<rclcpp::Node>& node() const { return node_; }
  const char* points_topic() const { return subscription_->get_topic_name(); }
  size_t flow_count() const { return flow_count_; }
  CheckerCounts counts() const { return checker_->Counts(); }

 private:
  void releaseLoop();

  std::shared_ptr<rclcpp::Node> node_;
  size_t flow_count_{0};
  std::unique_ptr<PointChecker> checker_;
  std::shared_ptr<rclcpp::Subscription<trace::FlowPoint>> subscription_;
  std::shared_ptr<rclcpp::Publisher<diagnostic_msgs::msg::DiagnosticArray>> status_publisher_;
  std::unique_ptr<CheckerStatus> status_;
  std::chrono::milliseconds status_period_;
  std::atomic<bool> stopping_{false};
  /// Last: started when everything above exists.
  std::thread release_thread_;
};

}  // namespace checker
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__CHECKER_NODE_HPP_
