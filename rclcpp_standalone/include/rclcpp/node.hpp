#ifndef RCLCPP__NODE_HPP_
#define RCLCPP__NODE_HPP_

#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "rclcpp/detail/graph_node.hpp"
#include "rclcpp/detail/subscription_base.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/expand_topic_or_service_name.hpp"
#include "rclcpp/publisher.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/subscription.hpp"

namespace rclcpp {

/// A named node in the root namespace that creates publishers and subscriptions.
///
/// All nodes of a process share one DDS participant, created with the first
/// node after init(). The node keeps only weak references to its subscriptions:
/// as in rclcpp, a subscription lives as long as the caller holds the returned pointer.
/// ROS 2 tools list the node, with its publishers and subscriptions, while it or
/// any of them lives and the context runs.
class Node : public std::enable_shared_from_this<Node> {
 public:
  using SharedPtr = std::shared_ptr<Node>;

  /// Throws std::runtime_error before init() or after shutdown(), when DDS
  /// refuses the domain configuration, or when the name is longer than the ROS 2
  /// graph carries (256 bytes).
  explicit Node(const std::string& node_name);

  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  const char* get_name() const { return name_.c_str(); }

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
  /// `std::shared_ptr<const MessageT>` or `std::shared_ptr<MessageT>`, as rclcpp accepts.
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
    if constexpr (std::is_invocable_v<Callable&, std::shared_ptr<const MessageT>>) {
      return Callable(std::forward<CallbackT>(callback));
    } else if constexpr (std::is_invocable_v<Callable&, std::shared_ptr<MessageT>>) {
      return [cb = Callable(std::forward<CallbackT>(callback))](
                 std::shared_ptr<const MessageT> message) mutable {
        cb(std::make_shared<MessageT>(*message));
      };
    } else {
      static_assert(std::is_invocable_v<Callable&, const MessageT&>,
                    "subscription callback must take the message by const reference or pointer");
      return [cb = Callable(std::forward<CallbackT>(callback))](
                 std::shared_ptr<const MessageT> message) mutable { cb(*message); };
    }
  }

  /// "diag" and "/diag" both name the topic "/diag" for a node in the root namespace.
  std::string expand_topic_name(const std::string& topic_name) const {
    return expand_topic_or_service_name(topic_name, name_, "/");
  }

  /// The participant is closed only after the context stops running, so the
  /// context is asked first: nothing is created once ok() is false.
  static void throw_if_shut_down(const char* endpoint, const std::string& topic_name);

  std::string name_;
  std::shared_ptr<detail::GraphNode> graph_node_;
  std::mutex mutex_;
  std::vector<std::weak_ptr<detail::SubscriptionBase>> subscriptions_;
};

}  // namespace rclcpp

#endif  // RCLCPP__NODE_HPP_
