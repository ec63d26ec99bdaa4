#include "rclcpp/node.hpp"

#include <algorithm>
#include <stdexcept>

#include "rclcpp/detail/context.hpp"

namespace rclcpp {

namespace {

// rmw_validate_node_name: alphanumerics and '_', not starting with a number.
std::string valid_node_name(const std::string& name) {
  if (name.empty()) {
    throw exceptions::InvalidNodeNameError(name.c_str(), "node name must not be empty", 0);
  }
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool digit = c >= '0' && c <= '9';
    if (!digit && c != '_' && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z')) {
      throw exceptions::InvalidNodeNameError(
          name.c_str(), "node name must not contain characters other than alphanumerics or '_'", i);
    }
    if (digit && i == 0) {
      throw exceptions::InvalidNodeNameError(name.c_str(), "node name must not start with a number",
                                             0);
    }
  }
  return name;
}

// rclcpp puts a relative namespace under the root; rmw_validate_namespace holds
// it to the rules of a fully qualified topic name, with "/" itself allowed.
std::string valid_namespace(const std::string& node_namespace) {
  const std::string absolute = node_namespace.empty() || node_namespace.front() != '/'
                                   ? "/" + node_namespace
                                   : node_namespace;
  if (absolute == "/") {
    return absolute;
  }
  try {
    expand_topic_or_service_name(absolute, "node", "/");
  } catch (const exceptions::NameValidationError& error) {
    throw exceptions::InvalidNamespaceError(absolute.c_str(), error.error_msg.c_str(),
                                            std::min(error.invalid_index, absolute.size() - 1));
  }
  return absolute;
}

}  // namespace

Node::Node(const std::string& node_name) : Node(node_name, "/") {}

Node::Node(const std::string& node_name, const std::string& node_namespace)
    : arguments_(detail::Context::instance().arguments()),
      given_name_(node_name),
      name_(valid_node_name(arguments_.node_name(node_name))),
      namespace_(valid_namespace(arguments_.node_namespace(node_name, node_namespace))),
      fully_qualified_name_(namespace_ == "/" ? "/" + name_ : namespace_ + "/" + name_),
      graph_node_(std::make_shared<detail::GraphNode>(detail::Context::instance().participant(),
                                                      namespace_, name_)) {}

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
