#ifndef RCLCPP__DETAIL__CONTEXT_HPP_
#define RCLCPP__DETAIL__CONTEXT_HPP_

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include "rclcpp/detail/subscription_base.hpp"

namespace rclcpp {
namespace detail {

/// The process-wide client state: the shutdown flag, the wake-up of spinning
/// threads and the table of subscriptions per topic.
///
/// Thread-safe. Lives until static destruction; signal handling is installed by init().
class Context {
 public:
  static Context& instance();

  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  void init();
  bool ok() const;
  /// Ends the context and wakes every spinning thread; false if it was not running.
  bool shutdown();

  void add_subscription(const std::shared_ptr<SubscriptionBase>& subscription);

  /// Hands a message to every live subscription of the topic, then wakes spinners.
  void publish(const std::string& topic, std::type_index type, const void* message);

  /// Blocks until something is published, the context shuts down, or the timeout passes.
  void wait_for_work(std::chrono::milliseconds timeout);

 private:
  Context() = default;

  mutable std::mutex mutex_;
  std::condition_variable work_cv_;
  bool running_{false};
  uint64_t work_generation_{0};
  std::unordered_map<std::string, std::vector<std::weak_ptr<SubscriptionBase>>> subscriptions_;
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__CONTEXT_HPP_
