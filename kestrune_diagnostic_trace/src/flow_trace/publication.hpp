#ifndef KESTRUNE_DIAGNOSTIC_TRACE__PUBLICATION_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__PUBLICATION_HPP_

#include <memory>
#include <string>
#include <unordered_map>

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

/// The publication rule: the flow's publisher, else `callback` with the flow's
/// topic (its result ignored), else nothing. Runs under the engine mutex;
/// exceptions from either reach the caller.
void PublishEvent(const TraceFlowCfg& flow, const PublishCallback& callback,
                  const DiagnosticEvent& event);

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__PUBLICATION_HPP_
