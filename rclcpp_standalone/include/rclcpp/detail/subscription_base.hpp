#ifndef RCLCPP__DETAIL__SUBSCRIPTION_BASE_HPP_
#define RCLCPP__DETAIL__SUBSCRIPTION_BASE_HPP_

#include <string>
#include <typeindex>

namespace rclcpp {
namespace detail {

/// Type-erased side of a subscription, as seen by the topic bus and the executor.
class SubscriptionBase {
 public:
  virtual ~SubscriptionBase() = default;

  /// Queues a copy of the message when it is of this subscription's type.
  /// Called on the publishing thread.
  virtual void deliver(const void* message, std::type_index type) = 0;

  /// Runs the callback for one queued message; false when nothing was queued.
  /// Called on the spinning thread.
  virtual bool execute_one() = 0;

  virtual const std::string& topic_name() const = 0;
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__SUBSCRIPTION_BASE_HPP_
