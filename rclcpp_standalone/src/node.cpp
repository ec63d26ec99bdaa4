#include "rclcpp/node.hpp"

#include <algorithm>

namespace rclcpp {

Node::Node(const std::string& node_name) : name_(node_name) {}

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
    while (subscription->execute_one()) {
      ++executed;
    }
  }
  return executed;
}

std::string Node::resolve_topic_name(const std::string& topic_name) {
  if (!topic_name.empty() && topic_name.front() == '/') {
    return topic_name;
  }
  return "/" + topic_name;
}

}  // namespace rclcpp
