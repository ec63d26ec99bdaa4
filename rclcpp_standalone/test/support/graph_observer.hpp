#ifndef RCLCPP_STANDALONE__TEST__SUPPORT__GRAPH_OBSERVER_HPP_
#define RCLCPP_STANDALONE__TEST__SUPPORT__GRAPH_OBSERVER_HPP_

#include <dds/dds.h>
#include <rmw_dds_common/msg/dds_/ParticipantEntitiesInfo_.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace test_support {

using Gid = std::array<uint8_t, 24>;

/// One node of a ros_discovery_info snapshot.
struct NodeSnapshot {
  std::string node_namespace;
  std::string node_name;
  std::vector<Gid> readers;
  std::vector<Gid> writers;

  bool operator==(const NodeSnapshot& other) const {
    return node_namespace == other.node_namespace && node_name == other.node_name &&
           readers == other.readers && writers == other.writers;
  }
};

inline std::ostream& operator<<(std::ostream& out, const NodeSnapshot& node) {
  return out << node.node_namespace << " " << node.node_name << " (" << node.readers.size()
             << " readers, " << node.writers.size() << " writers)";
}

/// One ParticipantEntitiesInfo sample.
struct Snapshot {
  Gid participant{};
  std::vector<NodeSnapshot> nodes;
};

/// Reads the ROS 2 graph of a domain as ROS 2 tools do: ros_discovery_info with
/// the QoS of rmw_cyclonedds_cpp's reader, and DDS discovery's builtin topics for
/// the GUIDs that the announced GIDs must match.
///
/// Its participant joins the domain of this process if one exists, so it goes
/// when rclcpp::shutdown() deletes that domain: use it only before.
class GraphObserver {
 public:
  explicit GraphObserver(uint32_t domain_id)
      : participant_(dds_create_participant(domain_id, nullptr, nullptr)) {
    if (participant_ < 0) {
      throw std::runtime_error("observer: cannot create a participant");
    }
    const dds_entity_t topic =
        dds_create_topic(participant_, &rmw_dds_common_msg_dds__ParticipantEntitiesInfo__desc,
                         "ros_discovery_info", nullptr, nullptr);
    dds_qos_t* qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
    dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
    dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, DDS_LENGTH_UNLIMITED);
    snapshots_ = dds_create_reader(participant_, topic, qos, nullptr);
    dds_delete_qos(qos);
    participants_ =
        dds_create_reader(participant_, DDS_BUILTIN_TOPIC_DCPSPARTICIPANT, nullptr, nullptr);
    publications_ =
        dds_create_reader(participant_, DDS_BUILTIN_TOPIC_DCPSPUBLICATION, nullptr, nullptr);
    subscriptions_ =
        dds_create_reader(participant_, DDS_BUILTIN_TOPIC_DCPSSUBSCRIPTION, nullptr, nullptr);
    if (topic < 0 || snapshots_ < 0 || participants_ < 0 || publications_ < 0 ||
        subscriptions_ < 0) {
      dds_delete(participant_);
      throw std::runtime_error("observer: cannot create its readers");
    }
  }

  ~GraphObserver() { dds_delete(participant_); }

  GraphObserver(const GraphObserver&) = delete;
  GraphObserver& operator=(const GraphObserver&) = delete;

  /// The snapshots received since the last call, oldest first.
  std::vector<Snapshot> take() {
    std::vector<Snapshot> result;
    for_each_sample(snapshots_, DDS_ANY_STATE, true, [&](const void* data) {
      const auto& sample =
          *static_cast<const rmw_dds_common_msg_dds__ParticipantEntitiesInfo_*>(data);
      Snapshot snapshot;
      std::memcpy(snapshot.participant.data(), sample.gid.data, snapshot.participant.size());
      for (uint32_t i = 0; i < sample.node_entities_info_seq._length; ++i) {
        const auto& node = sample.node_entities_info_seq._buffer[i];
        snapshot.nodes.push_back(NodeSnapshot{node.node_namespace, node.node_name,
                                              gids(node.reader_gid_seq),
                                              gids(node.writer_gid_seq)});
      }
      result.push_back(std::move(snapshot));
    });
    return result;
  }

  /// The GUID (as a GID) of the live writer on DDS topic `topic`, once discovered.
  std::optional<Gid> writer_on(const std::string& topic) {
    return endpoint_on(publications_, topic);
  }
  /// The GUID (as a GID) of the live reader on DDS topic `topic`, once discovered.
  std::optional<Gid> reader_on(const std::string& topic) {
    return endpoint_on(subscriptions_, topic);
  }

  /// The USER_DATA of the live participant `gid`, once discovered.
  std::optional<std::string> participant_user_data(const Gid& gid) {
    std::optional<std::string> result;
    for_each_sample(
        participants_, DDS_ALIVE_INSTANCE_STATE | DDS_ANY_SAMPLE_STATE | DDS_ANY_VIEW_STATE, false,
        [&](const void* data) {
          const auto& sample = *static_cast<const dds_builtintopic_participant_t*>(data);
          void* user_data = nullptr;
          size_t size = 0;
          if (as_gid(sample.key) == gid && dds_qget_userdata(sample.qos, &user_data, &size)) {
            result = std::string(static_cast<const char*>(user_data), size);
            dds_free(user_data);
          }
        });
    return result;
  }

 private:
  template <typename Visit>
  static void for_each_sample(dds_entity_t reader, uint32_t mask, bool take, Visit visit) {
    constexpr size_t kBatch = 64;
    dds_return_t count = 0;
    do {
      std::array<void*, kBatch> samples{};
      std::array<dds_sample_info_t, kBatch> infos{};
      count = take ? dds_take_mask(reader, samples.data(), infos.data(), kBatch, kBatch, mask)
                   : dds_read_mask(reader, samples.data(), infos.data(), kBatch, kBatch, mask);
      for (dds_return_t i = 0; i < count; ++i) {
        if (infos[i].valid_data) {
          visit(samples[i]);
        }
      }
      if (count > 0) {
        dds_return_loan(reader, samples.data(), count);
      }
      // Reading (not taking) returns the same samples again: one batch is all there is.
    } while (take && count == static_cast<dds_return_t>(kBatch));
  }

  static Gid as_gid(const dds_guid_t& guid) {
    Gid gid{};
    std::memcpy(gid.data(), guid.v, sizeof(guid.v));
    return gid;
  }

  template <typename Sequence>
  static std::vector<Gid> gids(const Sequence& sequence) {
    std::vector<Gid> result(sequence._length);
    for (uint32_t i = 0; i < sequence._length; ++i) {
      std::memcpy(result[i].data(), sequence._buffer[i].data, result[i].size());
    }
    return result;
  }

  std::optional<Gid> endpoint_on(dds_entity_t reader, const std::string& topic) {
    std::optional<Gid> result;
    for_each_sample(reader, DDS_ALIVE_INSTANCE_STATE | DDS_ANY_SAMPLE_STATE | DDS_ANY_VIEW_STATE,
                    false, [&](const void* data) {
                      const auto& sample = *static_cast<const dds_builtintopic_endpoint_t*>(data);
                      if (topic == sample.topic_name) {
                        result = as_gid(sample.key);
                      }
                    });
    return result;
  }

  dds_entity_t participant_;
  dds_entity_t snapshots_{0};
  dds_entity_t participants_{0};
  dds_entity_t publications_{0};
  dds_entity_t subscriptions_{0};
};

}  // namespace test_support

#endif  // RCLCPP_STANDALONE__TEST__SUPPORT__GRAPH_OBSERVER_HPP_
