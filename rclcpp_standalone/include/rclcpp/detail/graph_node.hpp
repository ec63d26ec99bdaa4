#ifndef RCLCPP__DETAIL__GRAPH_NODE_HPP_
#define RCLCPP__DETAIL__GRAPH_NODE_HPP_

#include <cstdint>
#include <memory>
#include <string>

#include "rclcpp/detail/dds_participant.hpp"

namespace rclcpp {
namespace detail {

/// A node as the ROS 2 graph sees it: announced by its participant while this lives.
///
/// A node and each of its endpoints share it, so that, as in rclcpp, the node
/// stays in the graph while any of its publishers or subscriptions lives.
/// Thread-safe.
class GraphNode {
 public:
  /// Announces the node unless the participant is closed. Throws
  /// std::runtime_error when the graph refuses a name or DDS fails to publish.
  GraphNode(std::shared_ptr<DdsParticipant> participant, const std::string& node_namespace,
            const std::string& node_name);
  /// Withdraws the node unless the participant was closed (which withdrew every node).
  ~GraphNode();

  GraphNode(const GraphNode&) = delete;
  GraphNode& operator=(const GraphNode&) = delete;

  const std::shared_ptr<DdsParticipant>& participant() const { return participant_; }
  /// The participant's id of this node, for announcing its endpoints; 0 when never announced.
  uint64_t id() const { return id_; }

 private:
  std::shared_ptr<DdsParticipant> participant_;
  uint64_t id_{0};
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__GRAPH_NODE_HPP_
