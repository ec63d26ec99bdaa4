#ifndef RCLCPP__DETAIL__DDS_PARTICIPANT_HPP_
#define RCLCPP__DETAIL__DDS_PARTICIPANT_HPP_

#include <dds/dds.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>

namespace rclcpp {
namespace detail {

class GraphAnnouncer;

enum class EndpointKind { kWriter, kReader };

/// One DDS domain with its participant, created as rmw_cyclonedds_cpp creates them.
///
/// Thread-safe. Every use of a handle happens under a Guard; close() waits for
/// the guards held, then deletes the domain. Deleting it keeps each writer until
/// its samples are acknowledged (Cyclone's writer linger), so a clean shutdown
/// loses nothing that was published. Once closed, every Guard is false and no
/// handle of this participant is used again, so endpoints may outlive it.
///
/// The participant takes part in the ROS 2 graph as rmw_cyclonedds_cpp's does: it
/// publishes its nodes with the GIDs of their writers and readers on
/// ros_discovery_info, a full snapshot on every change, and an empty node list
/// when it closes.
class DdsParticipant {
 public:
  /// Holds off close() while alive; false once the participant is closed.
  class Guard {
   public:
    explicit operator bool() const { return participant_ > 0; }
    dds_entity_t participant() const { return participant_; }

   private:
    friend class DdsParticipant;
    // The handle is read only once the lock is held (members initialise in order).
    explicit Guard(const DdsParticipant& owner)
        : lock_(owner.mutex_), participant_(owner.participant_) {}

    std::shared_lock<std::shared_mutex> lock_;
    dds_entity_t participant_;
  };

  /// Creates domain `domain_id` from `config` (Cyclone configuration fragments,
  /// comma-separated) and a participant in it. `on_data` runs on Cyclone's
  /// threads whenever one of this participant's readers receives data; it must
  /// be quick and must not take a Guard. Throws std::runtime_error when Cyclone refuses.
  DdsParticipant(uint32_t domain_id, const std::string& config, std::function<void()> on_data);
  ~DdsParticipant();

  DdsParticipant(const DdsParticipant&) = delete;
  DdsParticipant& operator=(const DdsParticipant&) = delete;

  Guard guard() const { return Guard(*this); }

  /// The listener readers are created with; it calls `on_data`.
  const dds_listener_t* reader_listener() const { return reader_listener_.get(); }

  /// Adds a node to the graph and publishes the snapshot; returns the node's id.
  /// `guard` must be true. Throws std::runtime_error when a name is longer than
  /// the graph carries (256 bytes) or DDS fails to publish.
  uint64_t announce_node(const Guard& guard, const std::string& node_namespace,
                         const std::string& node_name);
  /// Removes a node with its endpoints and publishes the snapshot. `guard` must be true.
  void withdraw_node(const Guard& guard, uint64_t node);
  /// Adds a writer or reader of this participant to a node's entry and publishes the
  /// snapshot. `guard` must be true. Throws std::runtime_error when DDS fails to publish.
  void announce_endpoint(const Guard& guard, uint64_t node, EndpointKind kind,
                         dds_entity_t endpoint);
  /// Removes an endpoint from a node's entry and publishes the snapshot. `guard` must be true.
  void withdraw_endpoint(const Guard& guard, uint64_t node, EndpointKind kind,
                         dds_entity_t endpoint);

  /// Publishes an empty node list, then deletes the domain, waiting for acknowledgements of
  /// unacknowledged samples up to Cyclone's writer linger duration. Later calls do nothing.
  void close();

 private:
  static void on_data_available(dds_entity_t reader, void* arg);

  mutable std::shared_mutex mutex_;
  dds_entity_t domain_{0};
  dds_entity_t participant_{0};
  std::function<void()> on_data_;
  std::unique_ptr<dds_listener_t, decltype(&dds_delete_listener)> reader_listener_;
  std::unique_ptr<GraphAnnouncer> graph_;
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__DDS_PARTICIPANT_HPP_
