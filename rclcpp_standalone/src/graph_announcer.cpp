#include "graph_announcer.hpp"

#include <rmw_dds_common/msg/dds_/ParticipantEntitiesInfo_.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

namespace rclcpp {
namespace detail {

namespace {

using DdsGid = rmw_dds_common_msg_dds__Gid_;
using DdsNodeInfo = rmw_dds_common_msg_dds__NodeEntitiesInfo_;
using DdsParticipantInfo = rmw_dds_common_msg_dds__ParticipantEntitiesInfo_;

// rmw_cyclonedds_cpp's own topic for the graph: no "rt" prefix, as ROS 2's
// namespace conventions do not apply to it.
constexpr const char* kTopicName = "ros_discovery_info";
// Both names are string<256> in rmw_dds_common's messages.
constexpr size_t kMaxNameLength = sizeof(DdsNodeInfo::node_name) - 1;

void check_name_length(const char* what, const std::string& name) {
  if (name.size() > kMaxNameLength) {
    throw std::runtime_error(std::string(what) + " '" + name.substr(0, 32) + "...' has " +
                             std::to_string(name.size()) + " bytes, more than the " +
                             std::to_string(kMaxNameLength) + " the ROS 2 graph carries");
  }
}

// Names were checked against the bound when their node was added.
template <size_t N>
void copy_name(const std::string& name, char (&out)[N]) {
  static_assert(N == kMaxNameLength + 1, "bounded string of rmw_dds_common's IDL");
  std::memcpy(out, name.c_str(), name.size() + 1);
}

std::vector<DdsGid> to_dds(const std::vector<GraphAnnouncer::Gid>& gids) {
  std::vector<DdsGid> result(gids.size());
  for (size_t i = 0; i < gids.size(); ++i) {
    std::copy(gids[i].begin(), gids[i].end(), result[i].data);
  }
  return result;
}

// The sequence borrows `items`, which must outlive its use in dds_write.
template <typename Sequence, typename T>
Sequence borrow(std::vector<T>& items) {
  Sequence sequence{};
  sequence._maximum = sequence._length = static_cast<uint32_t>(items.size());
  sequence._buffer = items.empty() ? nullptr : items.data();
  sequence._release = false;
  return sequence;
}

}  // namespace

GraphAnnouncer::GraphAnnouncer(dds_entity_t participant) : participant_gid_(gid_of(participant)) {
  std::unique_ptr<dds_qos_t, decltype(&dds_delete_qos)> qos(dds_create_qos(), &dds_delete_qos);
  // rmw_cyclonedds_cpp's mapping of its QoS for the graph writer.
  dds_qset_writer_data_lifecycle(qos.get(), false);
  dds_qset_history(qos.get(), DDS_HISTORY_KEEP_LAST, 1);
  dds_qset_reliability(qos.get(), DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
  dds_qset_durability(qos.get(), DDS_DURABILITY_TRANSIENT_LOCAL);
  dds_qset_durability_service(qos.get(), 0, DDS_HISTORY_KEEP_LAST, 1, DDS_LENGTH_UNLIMITED,
                              DDS_LENGTH_UNLIMITED, DDS_LENGTH_UNLIMITED);
  dds_qset_liveliness(qos.get(), DDS_LIVELINESS_AUTOMATIC, DDS_INFINITY);
  const dds_entity_t topic =
      dds_create_topic(participant, &rmw_dds_common_msg_dds__ParticipantEntitiesInfo__desc,
                       kTopicName, nullptr, nullptr);
  if (topic < 0) {
    throw std::runtime_error(std::string("could not create the topic '") + kTopicName +
                             "': " + dds_strretcode(topic));
  }
  writer_ = dds_create_writer(participant, topic, qos.get(), nullptr);
  if (writer_ < 0) {
    const dds_return_t ret = writer_;
    dds_delete(topic);
    throw std::runtime_error(std::string("could not create the writer on '") + kTopicName +
                             "': " + dds_strretcode(ret));
  }
}

GraphAnnouncer::Gid GraphAnnouncer::gid_of(dds_entity_t entity) {
  dds_guid_t guid{};
  dds_get_guid(entity, &guid);
  Gid gid{};
  static_assert(sizeof(guid.v) <= sizeof(Gid), "a DDS GUID fits a ROS 2 GID");
  std::copy(std::begin(guid.v), std::end(guid.v), gid.begin());
  return gid;
}

uint64_t GraphAnnouncer::add_node(const std::string& node_namespace, const std::string& node_name) {
  check_name_length("node namespace", node_namespace);
  check_name_length("node name", node_name);
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t id = next_node_id_++;
  nodes_.emplace(id, NodeEntry{node_namespace, node_name, {}, {}});
  const dds_return_t ret = publish();
  if (ret != DDS_RETCODE_OK) {
    nodes_.erase(id);
    throw std::runtime_error("could not announce node '" + node_name + "' on '" + kTopicName +
                             "': " + dds_strretcode(ret));
  }
  return id;
}

void GraphAnnouncer::remove_node(uint64_t node) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (nodes_.erase(node) > 0) {
    publish();
  }
}

void GraphAnnouncer::add_endpoint(uint64_t node, EndpointKind kind, dds_entity_t endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Gid>* const gids = endpoints_of(node, kind);
  if (gids == nullptr) {
    return;
  }
  gids->push_back(gid_of(endpoint));
  const dds_return_t ret = publish();
  if (ret != DDS_RETCODE_OK) {
    gids->pop_back();
    throw std::runtime_error(std::string("could not announce it on '") + kTopicName +
                             "': " + dds_strretcode(ret));
  }
}

void GraphAnnouncer::remove_endpoint(uint64_t node, EndpointKind kind, dds_entity_t endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Gid>* const gids = endpoints_of(node, kind);
  if (gids == nullptr) {
    return;
  }
  const auto found = std::find(gids->begin(), gids->end(), gid_of(endpoint));
  if (found != gids->end()) {
    gids->erase(found);
    publish();
  }
}

void GraphAnnouncer::withdraw_all() {
  std::lock_guard<std::mutex> lock(mutex_);
  nodes_.clear();
  publish();
}

std::vector<GraphAnnouncer::Gid>* GraphAnnouncer::endpoints_of(uint64_t node, EndpointKind kind) {
  const auto entry = nodes_.find(node);
  if (entry == nodes_.end()) {
    return nullptr;
  }
  return kind == EndpointKind::kWriter ? &entry->second.writers : &entry->second.readers;
}

dds_return_t GraphAnnouncer::publish() const {
  // The sample borrows strings and GID arrays from these.
  std::vector<DdsNodeInfo> infos(nodes_.size());
  std::vector<std::vector<DdsGid>> gids;
  gids.reserve(2 * nodes_.size());
  size_t index = 0;
  for (const auto& entry : nodes_) {
    const NodeEntry& node = entry.second;
    DdsNodeInfo& info = infos[index++];
    copy_name(node.node_namespace, info.node_namespace);
    copy_name(node.node_name, info.node_name);
    info.reader_gid_seq =
        borrow<decltype(info.reader_gid_seq)>(gids.emplace_back(to_dds(node.readers)));
    info.writer_gid_seq =
        borrow<decltype(info.writer_gid_seq)>(gids.emplace_back(to_dds(node.writers)));
  }
  DdsParticipantInfo sample{};
  std::copy(participant_gid_.begin(), participant_gid_.end(), sample.gid.data);
  sample.node_entities_info_seq = borrow<decltype(sample.node_entities_info_seq)>(infos);
  return dds_write(writer_, &sample);
}

}  // namespace detail
}  // namespace rclcpp
