#ifndef RCLCPP_STANDALONE__GRAPH_ANNOUNCER_HPP_
#define RCLCPP_STANDALONE__GRAPH_ANNOUNCER_HPP_

#include <dds/dds.h>

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "rclcpp/detail/dds_participant.hpp"

namespace rclcpp {
namespace detail {

/// A participant's entry in the ROS 2 graph, published on ros_discovery_info as
/// rmw_cyclonedds_cpp publishes it, so that ROS 2 tools attribute this
/// process's endpoints to its nodes.
///
/// Thread-safe: changes and their publication are atomic, so the last snapshot
/// published is always the current one. Every call uses the participant's handles:
/// the caller keeps the participant open meanwhile.
class GraphAnnouncer {
 public:
  /// rmw_dds_common's Gid: the 16-byte DDS GUID, then zeros.
  using Gid = std::array<uint8_t, 24>;

  /// Creates the writer in `participant` (reliable, transient-local, keep last 1,
  /// so a late joiner gets the current snapshot). Throws std::runtime_error when
  /// Cyclone refuses.
  explicit GraphAnnouncer(dds_entity_t participant);

  GraphAnnouncer(const GraphAnnouncer&) = delete;
  GraphAnnouncer& operator=(const GraphAnnouncer&) = delete;

  /// The GID ROS 2 gives a DDS entity, as rmw_cyclonedds_cpp computes it.
  static Gid gid_of(dds_entity_t entity);

  /// Each of these publishes the snapshot after the change. Adding throws
  /// std::runtime_error when DDS fails to publish, leaving the graph as it was;
  /// removing publishes what it can. Unknown node ids are ignored.
  uint64_t add_node(const std::string& node_namespace, const std::string& node_name);
  void remove_node(uint64_t node);
  void add_endpoint(uint64_t node, EndpointKind kind, dds_entity_t endpoint);
  void remove_endpoint(uint64_t node, EndpointKind kind, dds_entity_t endpoint);

  /// Publishes an empty node list, as a participant about to go does; later
  /// changes publish nothing.
  void withdraw_all();

 private:
  struct NodeEntry {
    std::string node_namespace;
    std::string node_name;
    std::vector<Gid> readers;
    std::vector<Gid> writers;
  };

  // Called with mutex_ held. Null for an unknown node.
  std::vector<Gid>* endpoints_of(uint64_t node, EndpointKind kind);
  dds_return_t publish() const;

  std::mutex mutex_;
  Gid participant_gid_{};
  dds_entity_t writer_{0};
  uint64_t next_node_id_{1};
  // Ordered by id, so nodes are listed in creation order as rmw_dds_common lists them.
  std::map<uint64_t, NodeEntry> nodes_;
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP_STANDALONE__GRAPH_ANNOUNCER_HPP_
