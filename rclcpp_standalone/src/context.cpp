#include "rclcpp/detail/context.hpp"

#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "domain_settings.hpp"

namespace rclcpp {
namespace detail {

Context& Context::instance() {
  static Context context;
  return context;
}

Context::~Context() {
  shutdown();
}

void Context::init(RosArguments arguments) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_) {
    return;
  }
  const auto settings = DomainSettings::from_environment();
  domain_id_ = settings.domain_id;
  localhost_only_ = settings.localhost_only;
  arguments_ = std::move(arguments);
  running_ = true;
}

bool Context::ok() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

RosArguments Context::arguments() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return arguments_;
}

bool Context::shutdown() {
  std::shared_ptr<DdsParticipant> participant;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) {
      return false;
    }
    running_ = false;
    ++work_generation_;
    participant = std::move(participant_);
  }
  work_cv_.notify_all();
  // Outside the lock: closing waits for Cyclone's listeners, which notify under it.
  if (participant) {
    participant->close();
  }
  return true;
}

std::shared_ptr<DdsParticipant> Context::participant() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!running_) {
    throw std::runtime_error(
        "the context is not valid: rclcpp::init() was not called or rclcpp::shutdown() was");
  }
  if (!participant_) {
    DomainSettings settings{domain_id_, localhost_only_};
    const char* uri = std::getenv("CYCLONEDDS_URI");
    participant_ = std::make_shared<DdsParticipant>(
        domain_id_, settings.cyclone_config(uri == nullptr ? "" : uri), [this] { notify_work(); });
  }
  return participant_;
}

uint64_t Context::work_generation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return work_generation_;
}

void Context::wait_for_work(uint64_t seen) {
  std::unique_lock<std::mutex> lock(mutex_);
  work_cv_.wait(lock, [&] { return work_generation_ != seen || !running_; });
}

void Context::notify_work() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++work_generation_;
  }
  work_cv_.notify_all();
}

}  // namespace detail
}  // namespace rclcpp
