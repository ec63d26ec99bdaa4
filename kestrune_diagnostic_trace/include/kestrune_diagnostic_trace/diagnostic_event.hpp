#ifndef KESTRUNE_DIAGNOSTIC_TRACE__DIAGNOSTIC_EVENT_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__DIAGNOSTIC_EVENT_HPP_

#include <functional>
#include <memory>
#include <string>

#include <kestrune_protocol/msg/diagnostic_event.hpp>
#include <rclcpp/publisher.hpp>

namespace kestrune {
namespace trace {

/// The message every flow event is published as.
using DiagnosticEvent = kestrune_protocol::msg::DiagnosticEvent;

/// One publisher per diagnostic topic, shared by every flow that names the topic.
using DiagnosticPublisher = rclcpp::Publisher<DiagnosticEvent>;

/// Receives (topic, event) when the engine has no publisher for a flow; runs on
/// the tracing thread with the engine locked. The result is ignored.
using PublishCallback = std::function<bool(const std::string&, const DiagnosticEvent&)>;

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__DIAGNOSTIC_EVENT_HPP_
