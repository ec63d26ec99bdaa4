#ifndef RCLCPP__PUBLISHER_HPP_
#define RCLCPP__PUBLISHER_HPP_

#include <dds/dds.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "rclcpp/detail/dds_endpoint.hpp"
#include "rclcpp/detail/dds_participant.hpp"
#include "rclcpp/detail/dds_type_support.hpp"
#include "rclcpp/detail/graph_node.hpp"
#include "rclcpp/qos.hpp"

namespace rclcpp {

/// Publishes messages of type MessageT on one topic through a DDS writer.
///
/// Created by Node::create_publisher. publish() is thread-safe; after shutdown
/// it drops the message silently, as rclcpp does.
template <typename MessageT>
class Publisher {
 public:
  using SharedPtr = std::shared_ptr<Publisher<MessageT>>;

  /// `topic_name` is fully qualified. Throws std::runtime_error when DDS refuses the writer.
  Publisher(std::shared_ptr<detail::GraphNode> node, std::string topic_name, const QoS& qos)
      : topic_name_(std::move(topic_name)),
        endpoint_(std::move(node), detail::DdsEndpoint::Kind::kWriter, topic_name_,
                  Support::descriptor(), qos) {}

  /// Throws std::runtime_error when DDS fails to write.
  void publish(const MessageT& msg) {
    detail::WithDdsSample(msg, [this](const typename Support::DdsType& sample) {
      const auto guard = endpoint_.guard();
      if (!guard) {
        return;
      }
      const dds_return_t ret = dds_write(endpoint_.entity(), &sample);
      if (ret != DDS_RETCODE_OK) {
        throw std::runtime_error("failed to publish message on '" + topic_name_ +
                                 "': " + dds_strretcode(ret));
      }
    });
  }

  const char* get_topic_name() const { return topic_name_.c_str(); }

  /// Subscriptions currently matched, in this process or elsewhere.
  size_t get_subscription_count() const { return endpoint_.matched_count(); }

 private:
  using Support = detail::DdsTypeSupport<MessageT>;

  std::string topic_name_;
  detail::DdsEndpoint endpoint_;
};

}  // namespace rclcpp

#endif  // RCLCPP__PUBLISHER_HPP_
