#ifndef RCLCPP__PUBLISHER_HPP_
#define RCLCPP__PUBLISHER_HPP_

#include <memory>
#include <string>
#include <typeindex>

#include "rclcpp/detail/context.hpp"
#include "rclcpp/qos.hpp"

namespace rclcpp {

/// Publishes messages of type MessageT on one topic.
///
/// publish() is thread-safe; after shutdown it drops the message, as rclcpp does.
template <typename MessageT>
class Publisher {
 public:
  using SharedPtr = std::shared_ptr<Publisher<MessageT>>;

  Publisher(std::string topic_name, const QoS& qos)
      : topic_name_(std::move(topic_name)), qos_(qos) {}

  void publish(const MessageT& msg) {
    auto& context = detail::Context::instance();
    if (context.ok()) {
      context.publish(topic_name_, std::type_index(typeid(MessageT)), &msg);
    }
  }

  const char* get_topic_name() const { return topic_name_.c_str(); }

 private:
  std::string topic_name_;
  QoS qos_;
};

}  // namespace rclcpp

#endif  // RCLCPP__PUBLISHER_HPP_
