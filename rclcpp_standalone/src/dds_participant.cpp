#include "rclcpp/detail/dds_participant.hpp"

#include <mutex>
#include <stdexcept>
#include <utility>

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
}

DdsParticipant::~DdsParticipant() {
  close();
}

void DdsParticipant::close() {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  if (domain_ <= 0) {
    return;
  }
  // The participant and all endpoints go with the domain.
  dds_delete(domain_);
  domain_ = 0;
  participant_ = 0;
}

void DdsParticipant::on_data_available(dds_entity_t /*reader*/, void* arg) {
  static_cast<DdsParticipant*>(arg)->on_data_();
}

}  // namespace detail
}  // namespace rclcpp
