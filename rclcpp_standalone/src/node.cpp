#include "rclcpp/node.hpp"

#include <algorithm>
#include <stdexcept>

#include "rclcpp/detail/context.hpp"

namespace rclcpp {

Node::Node(const std::string& node_name)
    : name_(node_name),
      graph_node_(std::make_shared<detail::GraphNode>(detail::Context::instance().participant(),
                                                      "/", node_name)) {}

void Node::throw_if_shut_down(const char* endpoint, const std::string& topic_name) {
  if (!detail::Context::instance().ok()) {
    throw std::runtime_error(std::string("could not create ") + endpoint + " on '" + topic_name +
                             "': the context is shut down");
  }
}

size_t Node::execute_ready() {
  std::vector<std::shared_ptr<detail::SubscriptionBase>> live;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    subscriptions_.erase(std::remove_if(subscriptions_.begin(), subscriptions_.end(),
                                        [](const auto& weak) { return weak.expired(); }),
                         subscriptions_.end());
    for (const auto& weak : subscriptions_) {
      if (auto subscription = weak.lock()) {
        live.push_back(std::move(subscription));
      }
    }
  }
  size_t executed = 0;
  for (const auto& subscription : live) {
    executed += subscription->execute_ready();
  }
  return executed;
}

}  // namespace rclcpp
