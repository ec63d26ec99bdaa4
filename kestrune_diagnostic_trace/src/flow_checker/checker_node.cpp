// flow_checker's node: subscription, release thread and status.
#include "checker_node.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "flow_trace/health_reporter.hpp"
#include "kestrune_diagnostic_trace/flow_report.hpp"
#include "kestrune_diagnostic_trace/flow_trace.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace checker {

namespace {

constexpr char kNodeName[] = "flow_checker";

int64_t SystemNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

CheckerNode::CheckerNode(const CheckerOptions& options, const trace::ParsedFlowConfig& config)
    : node_(std::make_shared<rclcpp::Node>(kNodeName)),
      status_period_(config.diagnostics.period_ms) {
  trace::FlowTrace& engine = *trace::FlowTrace::GetInstance();
  // The nodes' own flow file marks these flows remote: here they are judged.
  engine.JudgeRemoteFlows();
  engine.Init(options.config_path, node_);
  const std::set<std::string> flows = engine.GetTraceFlows();
  flow_count_ = flows.size();
  checker_ = std::make_unique<PointChecker>(engine, flows, options.reorder_window);

  const std::string& topic =
      options.points_topic.empty() ? config.points_topic : options.points_topic;
  // Reliable and deep: a burst waits in the queue rather than being dropped.
  subscription_ = node_->create_subscription<trace::FlowPoint>(
      topic, rclcpp::QoS(options.queue_depth).reliable(),
      [this](std::shared_ptr<const trace::FlowPoint> message, const rclcpp::MessageInfo& info) {
        WriterId writer;
        std::memcpy(writer.data(), info.get_rmw_message_info().publisher_gid.data, writer.size());
        checker_->Arrive(*message, writer, SystemNowNs(), std::chrono::steady_clock::now());
      });

  const std::string reporter = trace::detail::ReportingName(*node_);
  status_publisher_ = trace::detail::CreateDiagnosticsPublisher(*node_);
  status_ = std::make_unique<CheckerStatus>(
      trace::detail::StatusName(reporter, trace::report::kCheckerSubject),
      config.diagnostics.hardware_id.empty() ? reporter : config.diagnostics.hardware_id,
      subscription_->get_topic_name(), options.reorder_window);
  release_thread_ = std::thread([this] { releaseLoop(); });
}

CheckerNode::~CheckerNode() {
  stopping_ = true;
  checker_->Stop();
  release_thread_.join();
  // Nothing arrives any more once spinning has stopped: what is held is recorded.
  checker_->ReleaseAll();
}

void CheckerNode::releaseLoop() {
  auto next_status = std::chrono::steady_clock::now();
  while (!stopping_) {
    auto now = std::chrono::steady_clock::now();
    checker_->ReleaseDue(now);
    if (now >= next_status) {
      diagnostic_msgs::msg::DiagnosticArray array;
      array.header.stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
      array.status.push_back(status_->Assess(checker_->Counts(), now));
      try {
        status_publisher_->publish(array);
      } catch (const std::exception& error) {
        KLOG_ERROR("flow_checker: status not published: {}", error.what());
      }
      next_status = now + status_period_;
    }
    checker_->WaitForDue(next_status);
  }
}

}  // namespace checker
}  // namespace kestrune
