#include "topic_types.hpp"

#include <dds/dds.h>

#include <array>
#include <chrono>
#include <set>
#include <utility>

#include <rclcpp/detail/context.hpp>

namespace kestrune {
namespace diag_echo {

namespace {

constexpr char kEventType[] = "kestrune_protocol/msg/DiagnosticEvent";
constexpr char kArrayType[] = "diagnostic_msgs/msg/DiagnosticArray";
// New writers show up within discovery's own pace; a look this often is prompt enough.
constexpr std::chrono::milliseconds kLookGap{200};

}  // namespace

std::string RosTypeName(const std::string& dds_type) {
  const std::string middle = "::dds_::";
  const size_t at = dds_type.find(middle);
  if (at == std::string::npos || dds_type.empty() || dds_type.back() != '_') {
    return dds_type;
  }
  std::string name = dds_type.substr(0, at) + "/" +
                     dds_type.substr(at + middle.size(), dds_type.size() - at - middle.size() - 1);
  for (size_t separator = name.find("::"); separator != std::string::npos;
       separator = name.find("::")) {
    name.replace(separator, 2, "/");
  }
  return name;
}

std::string TypeMismatch(const std::string& topic, const std::string& ros_type,
                         EchoOptions::Type expected) {
  const bool diagnostics = expected == EchoOptions::Type::kDiagnostics;
  if (ros_type == (diagnostics ? kArrayType : kEventType)) {
    return {};
  }
  const std::string read = diagnostics ? "--type diagnostics" : "--type event";
  if (ros_type == kEventType || ros_type == kArrayType) {
    return topic + " carries " + ros_type + ", which " + read + " does not read; use " +
           (diagnostics ? "--type event" : "--type diagnostics");
  }
  return topic + " carries " + ros_type + ", which diag_echo cannot read; it reads " + kEventType +
         " (--type event) and " + kArrayType + " (--type diagnostics)";
}

TopicTypeWatch::TopicTypeWatch(std::string topic, EchoOptions::Type expected, Report report)
    : topic_(std::move(topic)),
      expected_(expected),
      report_(std::move(report)),
      thread_([this] { Run(); }) {}

TopicTypeWatch::~TopicTypeWatch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TopicTypeWatch::Run() {
  const auto participant = rclcpp::detail::Context::instance().participant();
  dds_entity_t reader = 0;
  {
    const auto guard = participant->guard();
    if (!guard) {
      return;
    }
    reader =
        dds_create_reader(guard.participant(), DDS_BUILTIN_TOPIC_DCPSPUBLICATION, nullptr, nullptr);
    if (reader < 0) {
      return;
    }
  }
  const std::string dds_topic = "rt" + topic_;
  std::set<std::string> reported;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, kLookGap, [this] { return stop_; })) {
    const auto guard = participant->guard();
    if (!guard) {
      return;
    }
    std::array<void*, 16> samples{};
    std::array<dds_sample_info_t, 16> infos{};
    const dds_return_t taken =
        dds_take(reader, samples.data(), infos.data(), samples.size(), samples.size());
    for (dds_return_t i = 0; i < taken; ++i) {
      const auto* endpoint = static_cast<const dds_builtintopic_endpoint_t*>(samples[i]);
      if (!infos[i].valid_data || endpoint->topic_name == nullptr ||
          endpoint->type_name == nullptr || dds_topic != endpoint->topic_name) {
        continue;
      }
      const std::string type = RosTypeName(endpoint->type_name);
      const std::string mismatch = TypeMismatch(topic_, type, expected_);
      if (!mismatch.empty() && reported.insert(type).second) {
        report_(mismatch);
      }
    }
    if (taken > 0) {
      dds_return_loan(reader, samples.data(), taken);
    }
  }
  const auto guard = participant->guard();
  if (guard) {
    dds_delete(reader);
  }
}

}  // namespace diag_echo
}  // namespace kestrune
