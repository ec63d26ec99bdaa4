#include "rclcpp/detail/dds_endpoint.hpp"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>

namespace rclcpp {
namespace detail {

namespace {

using QosPtr = std::unique_ptr<dds_qos_t, decltype(&dds_delete_qos)>;

// rmw_cyclonedds_cpp's prefix for ROS topics.
constexpr const char* kRosTopicPrefix = "rt";

// rmw_cyclonedds_cpp's mapping of a QoS with rclcpp's defaults: reliable,
// volatile, keep last `depth` (0 meaning the system default of 1), automatic
// liveliness, and no dispose when a writer goes away.
QosPtr make_qos(const QoS& qos, const std::string& what) {
  if (qos.depth() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    throw std::runtime_error(what + ": unsupported history depth");
  }
  QosPtr result(dds_create_qos(), &dds_delete_qos);
  dds_qset_writer_data_lifecycle(result.get(), false);
  dds_qset_history(result.get(), DDS_HISTORY_KEEP_LAST,
                   qos.depth() == 0 ? 1 : static_cast<int32_t>(qos.depth()));
  dds_qset_reliability(result.get(), DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
  dds_qset_durability(result.get(), DDS_DURABILITY_VOLATILE);
  dds_qset_liveliness(result.get(), DDS_LIVELINESS_AUTOMATIC, DDS_INFINITY);
  return result;
}

}  // namespace

DdsEndpoint::DdsEndpoint(std::shared_ptr<GraphNode> node, Kind kind,
                         const std::string& ros_topic_name,
                         const dds_topic_descriptor_t& descriptor, const QoS& qos)
    : node_(std::move(node)), participant_(node_->participant()), kind_(kind) {
  const std::string what = std::string("could not create ") +
                           (kind == Kind::kWriter ? "publisher" : "subscription") + " on '" +
                           ros_topic_name + "'";
  const QosPtr dds_qos = make_qos(qos, what);
  const auto guard = participant_->guard();
  if (!guard) {
    throw std::runtime_error(what + ": the context is shut down");
  }
  const std::string dds_topic_name = kRosTopicPrefix + ros_topic_name;
  topic_ =
      dds_create_topic(guard.participant(), &descriptor, dds_topic_name.c_str(), nullptr, nullptr);
  if (topic_ < 0) {
    throw std::runtime_error(what + ": topic '" + dds_topic_name + "' of type " +
                             descriptor.m_typename + ": " + dds_strretcode(topic_));
  }
  entity_ = kind == Kind::kWriter
                ? dds_create_writer(guard.participant(), topic_, dds_qos.get(), nullptr)
                : dds_create_reader(guard.participant(), topic_, dds_qos.get(),
                                    participant_->reader_listener());
  if (entity_ < 0) {
    const dds_return_t ret = entity_;
    dds_delete(topic_);
    throw std::runtime_error(what + ": " + dds_strretcode(ret));
  }
  try {
    participant_->announce_endpoint(guard, node_->id(), kind_, entity_);
  } catch (const std::exception& error) {
    dds_delete(entity_);
    dds_delete(topic_);
    throw std::runtime_error(what + ": " + error.what());
  }
}

DdsEndpoint::~DdsEndpoint() {
  const auto guard = participant_->guard();
  if (guard) {
    participant_->withdraw_endpoint(guard, node_->id(), kind_, entity_);
    dds_delete(entity_);
    dds_delete(topic_);
  }
}

size_t DdsEndpoint::matched_count() const {
  const auto guard = participant_->guard();
  if (!guard) {
    return 0;
  }
  if (kind_ == Kind::kWriter) {
    dds_publication_matched_status_t status{};
    return dds_get_publication_matched_status(entity_, &status) == DDS_RETCODE_OK
               ? status.current_count
               : 0;
  }
  dds_subscription_matched_status_t status{};
  return dds_get_subscription_matched_status(entity_, &status) == DDS_RETCODE_OK
             ? status.current_count
             : 0;
}

}  // namespace detail
}  // namespace rclcpp
