#ifndef RCLCPP__SUBSCRIPTION_HPP_
#define RCLCPP__SUBSCRIPTION_HPP_

#include <dds/dds.h>

#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rclcpp/detail/dds_endpoint.hpp"
#include "rclcpp/detail/dds_participant.hpp"
#include "rclcpp/detail/dds_type_support.hpp"
#include "rclcpp/detail/graph_node.hpp"
#include "rclcpp/detail/subscription_base.hpp"
#include "rclcpp/message_info.hpp"
#include "rclcpp/qos.hpp"

namespace rclcpp {

/// Receives messages of type MessageT through a DDS reader; its callback runs in
/// spin()/spin_some() of the node that created it.
///
/// The reader's keep-last history is the queue: samples not yet taken give way
/// to newer ones beyond the QoS depth.
template <typename MessageT>
class Subscription : public detail::SubscriptionBase {
 public:
  using SharedPtr = std::shared_ptr<Subscription<MessageT>>;
  using Callback = std::function<void(std::shared_ptr<const MessageT>, const MessageInfo&)>;

  /// `topic_name` is fully qualified. Throws std::runtime_error when DDS refuses the reader.
  Subscription(std::shared_ptr<detail::GraphNode> node, std::string topic_name, const QoS& qos,
               Callback callback)
      : topic_name_(std::move(topic_name)),
        callback_(std::move(callback)),
        endpoint_(std::move(node), detail::DdsEndpoint::Kind::kReader, topic_name_,
                  Support::descriptor(), qos) {}

  size_t execute_ready() override {
    // Callbacks run without the participant guard, so they may publish or shut down.
    const auto messages = take_all();
    for (const auto& [message, info] : messages) {
      callback_(message, info);
    }
    return messages.size();
  }

  const char* get_topic_name() const { return topic_name_.c_str(); }

  /// Publishers currently matched, in this process or elsewhere.
  size_t get_publisher_count() const { return endpoint_.matched_count(); }

 private:
  using Support = detail::DdsTypeSupport<MessageT>;
  static constexpr size_t kTakeBatch = 16;

  // Gives the samples Cyclone lent back, also when a conversion throws.
  struct Loan {
    dds_entity_t reader;
    void** samples;
    dds_return_t count;
    ~Loan() {
      if (count > 0) {
        dds_return_loan(reader, samples, count);
      }
    }
  };

  using Received = std::pair<std::shared_ptr<const MessageT>, MessageInfo>;

  // rmw_cyclonedds_cpp's implementation identifier, which ROS 2 tools show with a GID.
  static constexpr const char* kImplementation = "rmw_cyclonedds_cpp";

  static MessageInfo info_of(const dds_sample_info_t& sample_info) {
    rmw_message_info_t info{};
    info.source_timestamp = sample_info.source_timestamp;
    info.publisher_gid.implementation_identifier = kImplementation;
    static_assert(sizeof(sample_info.publication_handle) <= RMW_GID_STORAGE_SIZE,
                  "a publication handle must fit a GID");
    std::memcpy(info.publisher_gid.data, &sample_info.publication_handle,
                sizeof(sample_info.publication_handle));
    return MessageInfo(info);
  }

  std::vector<Received> take_all() {
    std::vector<Received> messages;
    const auto guard = endpoint_.guard();
    if (!guard) {
      return messages;
    }
    dds_return_t taken = 0;
    do {
      // A null first pointer asks Cyclone to lend its own buffers.
      std::array<void*, kTakeBatch> samples{};
      std::array<dds_sample_info_t, kTakeBatch> infos{};
      taken = dds_take(endpoint_.entity(), samples.data(), infos.data(), kTakeBatch, kTakeBatch);
      const Loan loan{endpoint_.entity(), samples.data(), taken};
      for (dds_return_t i = 0; i < taken; ++i) {
        if (infos[i].valid_data) {
          auto message = std::make_shared<MessageT>();
          Support::from_dds(*static_cast<const typename Support::DdsType*>(samples[i]), *message);
          messages.emplace_back(std::move(message), info_of(infos[i]));
        }
      }
    } while (taken == static_cast<dds_return_t>(kTakeBatch));
    return messages;
  }

  std::string topic_name_;
  Callback callback_;
  detail::DdsEndpoint endpoint_;
};

}  // namespace rclcpp

#endif  // RCLCPP__SUBSCRIPTION_HPP_
