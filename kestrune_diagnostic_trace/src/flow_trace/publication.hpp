#ifndef KESTRUNE_DIAGNOSTIC_TRACE__PUBLICATION_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__PUBLICATION_HPP_

#include <memory>
#include <string>
#include <unordered_map>

#include <builtin_interfaces/msg/time.hpp>
#include <rclcpp/clock.hpp>
#include <rclcpp/node.hpp>

#include "kestrune_diagnostic_trace/diagnostic_event.hpp"
#include "kestrune_diagnostic_trace/trace_flow_cfg.hpp"

namespace kestrune {
namespace trace {
namespace detail {

/// diag_topic → the one publisher of that topic.
using PublisherTable = std::unordered_map<std::string, std::shared_ptr<DiagnosticPublisher>>;

/// Gives `flow` the publisher of its `diag_topic` on `node`, created on first
/// use of the topic and kept in `publishers`; a flow without a topic gets none.
/// Calls into ROS 2, so never under the engine mutex; throws what ROS 2 throws
/// for a topic name it refuses.
void AttachPublisher(rclcpp::Node& node, TraceFlowCfg& flow, PublisherTable& publishers);

/// How the engine sends the events of its checks. Used under the engine mutex.
class Publication {
 public:
  /// The publish callback of the flows without a publisher; empty for none.
  void SetCallback(const PublishCallback& callback) { callback_ = callback; }

  /// An event's stamp: now, on the system clock. One clock for every event,
  /// since making one per event costs an allocation in ROS 2.
  builtin_interfaces::msg::Time Stamp() { return clock_.now(); }

  /// Starts an event of `flow_id`, stamped now, in `event`, reused: every
  /// field back to its initial value, the texts keeping their buffers.
  void Begin(DiagnosticEvent& event, const std::string& flow_id);

  /// The publication rule: the flow's publisher, else the callback with the
  /// flow's topic (its result ignored), else nothing. Exceptions from either
  /// reach the caller.
  void Send(const TraceFlowCfg& flow, const DiagnosticEvent& event) const;

 private:
  PublishCallback callback_;
  rclcpp::Clock clock_{RCL_SYSTEM_TIME};
  /// An event as constructed; copying it clears a string without freeing its buffer.
  const DiagnosticEvent initial_{};
};

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__PUBLICATION_HPP_
