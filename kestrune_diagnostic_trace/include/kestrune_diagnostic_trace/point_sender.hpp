#ifndef KESTRUNE_DIAGNOSTIC_TRACE__POINT_SENDER_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__POINT_SENDER_HPP_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include <kestrune_protocol/msg/flow_point.hpp>
#include <rclcpp/node.hpp>
#include <rclcpp/publisher.hpp>

#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "kestrune_diagnostic_trace/trace_point.hpp"

namespace kestrune {
namespace trace {

/// The message a PointSender sends and flow_checker receives.
using FlowPoint = kestrune_protocol::msg::FlowPoint;

/// Sends the points of flows that flow_checker judges, from any node, and asks
/// the checker to check or reset a flow.
///
/// Each sender has a publisher of its own: the checker tells senders apart by
/// that publisher, so two senders of one node, or of two processes with the
/// same node name, are distinct. Its messages are numbered from 1, which lets
/// the checker count what was lost on the way. Points are stamped with the
/// system clock when sent (the checker orders them by these stamps), and a
/// check or reset request never overtakes a point sent before it.
///
/// Thread-safe: numbering and publishing happen under one mutex, so numbers go
/// out in order. The sender needs nothing of its node after construction.
class PointSender {
 public:
  /// The points topic, relative to the node's namespace, unless told otherwise.
  static constexpr const char* kDefaultTopic = kDefaultPointsTopic;
  /// Messages the publisher keeps for a checker that has not acknowledged them yet.
  static constexpr size_t kQueueDepth = 1000;

  /// Creates the publisher on `topic` of `node`. Throws what rclcpp throws for
  /// a topic name it refuses.
  explicit PointSender(rclcpp::Node& node, const std::string& topic = kDefaultTopic);

  PointSender(const PointSender&) = delete;
  PointSender& operator=(const PointSender&) = delete;

  /// Sends a point of `flow_id` reached now.
  void Trace(const std::string& flow_id, const std::string& point_id, bool success);
  /// As above, with key/value pairs that the checker appends to the point's event texts.
  void Trace(const std::string& flow_id, const std::string& point_id, bool success,
             const std::unordered_map<std::string, std::string>& metadata);
  /// Sends a prepared point with its own stamp and metadata.
  void Trace(const std::string& flow_id, const TracePoint& point);
  /// Asks the checker to check the flow's run and start a new one.
  void CheckFlow(const std::string& flow_id);
  /// Asks the checker to drop the flow's run and start a new one.
  void ResetFlow(const std::string& flow_id);

  /// The fully qualified topic the sender publishes on.
  const char* topic() const;
  /// Subscriptions matched on the topic, such as checkers listening.
  size_t CheckerCount() const;

 private:
  using Metadata = std::unordered_map<std::string, std::string>;

  /// Numbers and publishes one message; `stamp_ns` 0 means now.
  void send(uint8_t kind, const std::string& flow_id, const std::string& point_id, bool success,
            int64_t stamp_ns, const Metadata* metadata);

  std::shared_ptr<rclcpp::Publisher<FlowPoint>> publisher_;
  std::mutex mutex_;
  // Guarded by mutex_: the message is reused, so sending allocates only for longer texts.
  FlowPoint message_;
  uint64_t sequence_{0};
  int64_t last_stamp_ns_{0};
};

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__POINT_SENDER_HPP_
