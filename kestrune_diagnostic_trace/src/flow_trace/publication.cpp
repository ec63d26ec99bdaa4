// Diagnostic event publication: one publisher per topic, and the rule that
// picks the publisher or the publish callback for an event.
#include "publication.hpp"

namespace kestrune {
namespace trace {
namespace detail {

namespace {

// Receivers want the latest verdict, not a backlog.
constexpr size_t kDiagnosticQueueDepth = 1;

}  // namespace

void AttachPublisher(rclcpp::Node& node, TraceFlowCfg& flow, PublisherTable& publishers) {
  if (flow.diag_topic.empty()) {
    return;
  }
  auto publisher = publishers.find(flow.diag_topic);
  if (publisher == publishers.end()) {
    publisher =
        publishers
            .emplace(flow.diag_topic, node.create_publisher<DiagnosticEvent>(
                                          flow.diag_topic, rclcpp::QoS(kDiagnosticQueueDepth)))
            .first;
  }
  flow.publisher = publisher->second;
}

void Publication::Begin(DiagnosticEvent& event, const std::string& flow_id) {
  event = initial_;
  event.source_id = flow_id;
  event.stamp = Stamp();
}

void Publication::Send(const TraceFlowCfg& flow, const DiagnosticEvent& event) const {
  if (flow.publisher) {
    flow.publisher->publish(event);
  } else if (callback_) {
    callback_(flow.diag_topic, event);
  }
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune
