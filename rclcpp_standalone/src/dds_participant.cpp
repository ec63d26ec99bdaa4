#include "rclcpp/detail/dds_participant.hpp"

#include <mutex>
#include <stdexcept>
#include <utility>

#include "graph_announcer.hpp"

namespace rclcpp {
namespace detail {

namespace {

std::runtime_error cyclone_error(const std::string& what, dds_return_t ret) {
  return std::runtime_error(what + ": " + dds_strretcode(ret));
}

}  // namespace

DdsParticipant::DdsParticipant(uint32_t domain_id, const std::string& config,
                               std::function<void()> on_data)
    : on_data_(std::move(on_data)),
      reader_listener_(dds_create_listener(this), &dds_delete_listener) {
  dds_lset_data_available(reader_listener_.get(), &DdsParticipant::on_data_available);

  domain_ = dds_create_domain(domain_id, config.c_str());
  if (domain_ < 0) {
    throw cyclone_error("could not create DDS domain " + std::to_string(domain_id) +
                            " (see ROS_DOMAIN_ID, ROS_LOCALHOST_ONLY and CYCLONEDDS_URI)",
                        domain_);
  }
  // rmw_cyclonedds_cpp announces the participant's security enclave; "/" is the default one.
  std::unique_ptr<dds_qos_t, decltype(&dds_delete_qos)> qos(dds_create_qos(), &dds_delete_qos);
  static const std::string kUserData = "enclave=/;";
  dds_qset_userdata(qos.get(), kUserData.data(), kUserData.size());
  participant_ = dds_create_participant(domain_id, qos.get(), nullptr);
  if (participant_ < 0) {
    const dds_return_t ret = participant_;
    dds_delete(domain_);
    throw cyclone_error("could not create DDS participant in domain " + std::to_string(domain_id),
                        ret);
  }
  try {
    graph_ = std::make_unique<GraphAnnouncer>(participant_);
  } catch (...) {
    dds_delete(domain_);
    throw;
  }
}

DdsParticipant::~DdsParticipant() {
  close();
}

void DdsParticipant::close() {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  if (domain_ <= 0) {
    return;
  }
  // ROS 2 tools forget this process's nodes now rather than when its lease runs
  // out; the writer lingers until they have acknowledged it.
  graph_->withdraw_all();
  // The participant and all endpoints go with the domain.
  dds_delete(domain_);
  graph_.reset();
  domain_ = 0;
  participant_ = 0;
}

uint64_t DdsParticipant::announce_node(const Guard& /*guard*/, const std::string& node_namespace,
                                       const std::string& node_name) {
  return graph_->add_node(node_namespace, node_name);
}

void DdsParticipant::withdraw_node(const Guard& /*guard*/, uint64_t node) {
  graph_->remove_node(node);
}

void DdsParticipant::announce_endpoint(const Guard& /*guard*/, uint64_t node, EndpointKind kind,
                                       dds_entity_t endpoint) {
  graph_->add_endpoint(node, kind, endpoint);
}

void DdsParticipant::withdraw_endpoint(const Guard& /*guard*/, uint64_t node, EndpointKind kind,
                                       dds_entity_t endpoint) {
  graph_->remove_endpoint(node, kind, endpoint);
}

void DdsParticipant::on_data_available(dds_entity_t /*reader*/, void* arg) {
  static_cast<DdsParticipant*>(arg)->on_data_();
}

}  // namespace detail
}  // namespace rclcpp
