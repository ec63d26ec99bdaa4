#ifndef RCLCPP__NODE_HPP_
#define RCLCPP__NODE_HPP_

#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "rclcpp/detail/graph_node.hpp"
#include "rclcpp/detail/ros_arguments.hpp"
#include "rclcpp/detail/subscription_base.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/expand_topic_or_service_name.hpp"
#include "rclcpp/message_info.hpp"
#include "rclcpp/publisher.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/subscription.hpp"

namespace rclcpp {

/// A named node in a namespace that creates publishers and subscriptions.
///
/// As in rclcpp, the remap rules of rclcpp::init's `--ros-args` apply: `__node`
/// and `__ns` replace the name and namespace the code gives, and topic rules
/// replace the topics the node's publishers and subscriptions name. All nodes of a process share
/// one DDS participant, created with the first node after init(). The node keeps only weak
/// references to its subscriptions: as in rclcpp, a subscription lives as long as the caller holds
/// the returned pointer. ROS 2 tools list the node, with its publishers and subscriptions, while it
/// or any of them lives and the context runs.
class Node : public std::enable_shared_from_this<Node> {
 public:
  using SharedPtr = std::shared_ptr<Node>;

  /// A node in the root namespace. Throws std::runtime_error before init() or
  /// after shutdown(), when DDS refuses the domain configuration, or when the
  /// name is longer than the ROS 2 graph carries (256 bytes);
  /// exceptions::InvalidNodeNameError for a name ROS 2 refuses.
  explicit Node(const std::string& node_name);
  /// A node in `node_namespace` ("robot1" and "/robot1" are the same; "" is
  /// the root). Throws as above, and exceptions::InvalidNamespaceError for a
  /// namespace ROS 2 refuses.
  Node(const std::string& node_name, const std::string& node_namespace);

  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  const char* get_name() const { return name_.c_str(); }
  const char* get_namespace() const { return namespace_.c_str(); }
  /// The namespace and name: "/robot1/flow_checker", "/flow_checker".
  const char* get_fully_qualified_name() const { return fully_qualified_name_.c_str(); }

  /// Throws exceptions::InvalidTopicNameError for a name ROS 2 refuses, and
  /// std::runtime_error after shutdown() or when DDS refuses the writer.
  template <typename MessageT>
  std::shared_ptr<Publisher<MessageT>> create_publisher(const std::string& topic_name,
                                                        const QoS& qos) {
    std::string expanded = expand_topic_name(topic_name);
    throw_if_shut_down("publisher", expanded);
    return std::make_shared<Publisher<MessageT>>(graph_node_, std::move(expanded), qos);
  }

  /// Throws as create_publisher does. The callback takes `const MessageT&`,
  /// `std::shared_ptr<const MessageT>` or `std::shared_ptr<MessageT>`, each
  /// alone or followed by `const MessageInfo&`, as rclcpp accepts.
  template <typename MessageT, typename CallbackT>
  std::shared_ptr<Subscription<MessageT>> create_subscription(const std::string& topic_name,
                                                              const QoS& qos,
                                                              CallbackT&& callback) {
    std::string expanded = expand_topic_name(topic_name);
    throw_if_shut_down("subscription", expanded);
    auto subscription = std::make_shared<Subscription<MessageT>>(
        graph_node_, std::move(expanded), qos,
        adapt_callback<MessageT>(std::forward<CallbackT>(callback)));
    std::lock_guard<std::mutex> lock(mutex_);
    subscriptions_.push_back(subscription);
    return subscription;
  }

  /// Runs the callbacks of every message received by this node's subscriptions;
  /// returns how many ran. Used by the executor functions.
  size_t execute_ready();

 private:
  template <typename MessageT, typename CallbackT>
  static typename Subscription<MessageT>::Callback adapt_callback(CallbackT&& callback) {
    using Callable = std::decay_t<CallbackT>;
    using ConstPtr = std::shared_ptr<const MessageT>;
    Callable cb(std::forward<CallbackT>(callback));
    if constexpr (std::is_invocable_v<Callable&, ConstPtr, const MessageInfo&>) {
      return cb;
    } else if constexpr (std::is_invocable_v<Callable&, std::shared_ptr<MessageT>,
                                             const MessageInfo&>) {
      return [cb](ConstPtr message, const MessageInfo& info) mutable {
        cb(std::make_shared<MessageT>(*message), info);
      };
    } else if constexpr (std::is_invocable_v<Callable&, const MessageT&, const MessageInfo&>) {
      return [cb](ConstPtr message, const MessageInfo& info) mutable { cb(*message, info); };
    } else if constexpr (std::is_invocable_v<Callable&, ConstPtr>) {
      return [cb](ConstPtr message, const MessageInfo&) mutable { cb(std::move(message)); };
    } else if constexpr (std::is_invocable_v<Callable&, std::shared_ptr<MessageT>>) {
      return [cb](ConstPtr message, const MessageInfo&) mutable {
        cb(std::make_shared<MessageT>(*message));
      };
    } else {
      static_assert(std::is_invocable_v<Callable&, const MessageT&>,
                    "subscription callback must take the message by const reference or pointer, "
                    "optionally followed by const rclcpp::MessageInfo&");
      return [cb](ConstPtr message, const MessageInfo&) mutable { cb(*message); };
    }
  }

  /// "diag" names "/robot1/diag" for a node in "/robot1", "/diag" names "/diag";
  /// then the first remap rule that matches applies.
  std::string expand_topic_name(const std::string& topic_name) const {
    return arguments_.remap_topic(expand_topic_or_service_name(topic_name, name_, namespace_),
                                  given_name_, name_, namespace_);
  }

  /// The participant is closed only after the context stops running, so the
  /// context is asked first: nothing is created once ok() is false.
  static void throw_if_shut_down(const char* endpoint, const std::string& topic_name);

  detail::RosArguments arguments_;
  /// The name the code gave, which node-specific remap rules are matched against.
  std::string given_name_;
  std::string name_;
  std::string namespace_;
  std::string fully_qualified_name_;
  std::shared_ptr<detail::GraphNode> graph_node_;
  std::mutex mutex_;
  std::vector<std::weak_ptr<detail::SubscriptionBase>> subscriptions_;
};

}  // namespace rclcpp

#endif  // RCLCPP__NODE_HPP_
