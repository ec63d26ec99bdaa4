#ifndef RCLCPP__DETAIL__DDS_ENDPOINT_HPP_
#define RCLCPP__DETAIL__DDS_ENDPOINT_HPP_

#include <dds/dds.h>

#include <memory>
#include <string>

#include "rclcpp/detail/dds_participant.hpp"
#include "rclcpp/qos.hpp"

namespace rclcpp {
namespace detail {

/// A DDS writer or reader with its topic, owned by a publisher or subscription.
///
/// The topic is the ROS topic with rmw_cyclonedds_cpp's "rt" prefix; the QoS is
/// rmw_cyclonedds_cpp's mapping of `qos`. The handles are deleted with the
/// endpoint unless the participant was closed first (which deleted them).
class DdsEndpoint {
 public:
  enum class Kind { kWriter, kReader };

  /// `ros_topic_name` is fully qualified ("/diag"). Throws std::runtime_error
  /// when the participant is closed or Cyclone refuses the topic or endpoint.
  DdsEndpoint(std::shared_ptr<DdsParticipant> participant, Kind kind,
              const std::string& ros_topic_name, const dds_topic_descriptor_t& descriptor,
              const QoS& qos);
  ~DdsEndpoint();

  DdsEndpoint(const DdsEndpoint&) = delete;
  DdsEndpoint& operator=(const DdsEndpoint&) = delete;

  /// Use entity() only while a true Guard is held.
  DdsParticipant::Guard guard() const { return participant_->guard(); }
  dds_entity_t entity() const { return entity_; }

  /// Endpoints of the other side currently matched; 0 once the participant is closed.
  size_t matched_count() const;

 private:
  std::shared_ptr<DdsParticipant> participant_;
  Kind kind_;
  dds_entity_t topic_{0};
  dds_entity_t entity_{0};
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__DDS_ENDPOINT_HPP_
