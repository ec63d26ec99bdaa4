#include "rclcpp/detail/context.hpp"

#include <algorithm>

namespace rclcpp {
namespace detail {

Context& Context::instance() {
  static Context context;
  return context;
}

void Context::init() {
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = true;
}

bool Context::ok() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

bool Context::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) {
      return false;
    }
    running_ = false;
    ++work_generation_;
  }
  work_cv_.notify_all();
  return true;
}

void Context::add_subscription(const std::shared_ptr<SubscriptionBase>& subscription) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& list = subscriptions_[subscription->topic_name()];
  list.erase(
      std::remove_if(list.begin(), list.end(), [](const auto& weak) { return weak.expired(); }),
      list.end());
  list.push_back(subscription);
}

void Context::publish(const std::string& topic, std::type_index type, const void* message) {
  std::vector<std::shared_ptr<SubscriptionBase>> receivers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = subscriptions_.find(topic);
    if (it == subscriptions_.end()) {
      return;
    }
    for (const auto& weak : it->second) {
      if (auto subscription = weak.lock()) {
        receivers.push_back(std::move(subscription));
      }
    }
  }
  // Delivery copies the message; do it outside the table lock.
  for (const auto& subscription : receivers) {
    subscription->deliver(message, type);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++work_generation_;
  }
  work_cv_.notify_all();
}

void Context::wait_for_work(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t seen = work_generation_;
  work_cv_.wait_for(lock, timeout, [&] { return work_generation_ != seen || !running_; });
}

}  // namespace detail
}  // namespace rclcpp
