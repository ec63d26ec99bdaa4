#ifndef RCLCPP__DETAIL__SUBSCRIPTION_BASE_HPP_
#define RCLCPP__DETAIL__SUBSCRIPTION_BASE_HPP_

#include <cstddef>

namespace rclcpp {
namespace detail {

/// Type-erased side of a subscription, as seen by the executor.
class SubscriptionBase {
 public:
  virtual ~SubscriptionBase() = default;

  /// Takes every sample the reader holds and runs the callback for each, on the
  /// calling (spinning) thread; returns how many ran.
  virtual size_t execute_ready() = 0;
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__SUBSCRIPTION_BASE_HPP_
