#include "rclcpp/detail/graph_node.hpp"

#include <utility>

namespace rclcpp {
namespace detail {

GraphNode::GraphNode(std::shared_ptr<DdsParticipant> participant, const std::string& node_namespace,
                     const std::string& node_name)
    : participant_(std::move(participant)) {
  const auto guard = participant_->guard();
  if (guard) {
    id_ = participant_->announce_node(guard, node_namespace, node_name);
  }
}

GraphNode::~GraphNode() {
  const auto guard = participant_->guard();
  if (guard && id_ != 0) {
    participant_->withdraw_node(guard, id_);
  }
}

}  // namespace detail
}  // namespace rclcpp
