#ifndef RCLCPP__SUBSCRIPTION_HPP_
#define RCLCPP__SUBSCRIPTION_HPP_

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <typeindex>
#include <utility>

#include "rclcpp/detail/subscription_base.hpp"
#include "rclcpp/qos.hpp"

namespace rclcpp {

/// Receives messages of type MessageT on one topic; its callback runs in spin()/spin_some().
template <typename MessageT>
class Subscription : public detail::SubscriptionBase {
 public:
  using SharedPtr = std::shared_ptr<Subscription<MessageT>>;
  using Callback = std::function<void(std::shared_ptr<const MessageT>)>;

  Subscription(std::string topic_name, const QoS& qos, Callback callback)
      : topic_name_(std::move(topic_name)), depth_(qos.depth()), callback_(std::move(callback)) {}

  void deliver(const void* message, std::type_index type) override {
    if (type != std::type_index(typeid(MessageT))) {
      return;
    }
    auto copy = std::make_shared<const MessageT>(*static_cast<const MessageT*>(message));
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(copy));
    // Keep-last history: the oldest samples give way.
    while (depth_ > 0 && queue_.size() > depth_) {
      queue_.pop_front();
    }
  }

  bool execute_one() override {
    std::shared_ptr<const MessageT> message;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) {
        return false;
      }
      message = std::move(queue_.front());
      queue_.pop_front();
    }
    callback_(std::move(message));
    return true;
  }

  const std::string& topic_name() const override { return topic_name_; }
  const char* get_topic_name() const { return topic_name_.c_str(); }

 private:
  std::string topic_name_;
  size_t depth_;
  Callback callback_;
  std::mutex mutex_;
  std::deque<std::shared_ptr<const MessageT>> queue_;
};

}  // namespace rclcpp

#endif  // RCLCPP__SUBSCRIPTION_HPP_
