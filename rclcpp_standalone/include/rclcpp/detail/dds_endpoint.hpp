#ifndef RCLCPP__DETAIL__DDS_ENDPOINT_HPP_
#define RCLCPP__DETAIL__DDS_ENDPOINT_HPP_

#include <dds/dds.h>

#include <memory>
#include <string>

#include "rclcpp/detail/dds_participant.hpp"
#include "rclcpp/detail/graph_node.hpp"
#include "rclcpp/qos.hpp"

namespace rclcpp {
namespace detail {

/// A DDS writer or reader with its topic, owned by a publisher or subscription.
///
/// The topic is the ROS topic with rmw_cyclonedds_cpp's "rt" prefix; the QoS is
/// rmw_cyclonedds_cpp's mapping of `qos`. The endpoint is announced in its node's
/// graph entry while it lives, and keeps the node announced. The handles are
/// deleted with the endpoint unless the participant was closed first (which
/// deleted them).
class DdsEndpoint {
 public:
  using Kind = EndpointKind;

  /// `ros_topic_name` is fully qualified ("/diag"). Throws std::runtime_error
  /// when the participant is closed, Cyclone refuses the topic or endpoint, or
  /// the endpoint cannot be announced.
  DdsEndpoint(std::shared_ptr<GraphNode> node, Kind kind, const std::string& ros_topic_name,
              const dds_topic_descriptor_t& descriptor, const QoS& qos);
  ~DdsEndpoint();

  DdsEndpoint(const DdsEndpoint&) = delete;
  DdsEndpoint& operator=(const DdsEndpoint&) = delete;

  /// Use entity() only while a true Guard is held.
  DdsParticipant::Guard guard() const { return participant_->guard(); }
  dds_entity_t entity() const { return entity_; }

  /// Endpoints of the other side currently matched; 0 once the participant is closed.
  size_t matched_count() const;

 private:
  std::shared_ptr<GraphNode> node_;
  // The node's, held here for the guards of publish() and take(), which must stay cheap.
  std::shared_ptr<DdsParticipant> participant_;
  Kind kind_;
  dds_entity_t topic_{0};
  dds_entity_t entity_{0};
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__DDS_ENDPOINT_HPP_
