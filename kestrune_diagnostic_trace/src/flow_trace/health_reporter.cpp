// The health reporter: stall watch and flow statuses on /diagnostics.
#include "health_reporter.hpp"

#include <chrono>
#include <utility>

#include <rclcpp/clock.hpp>

namespace kestrune {
namespace trace {
namespace detail {

namespace {

/// One tick: the latency of a level change and of a stall, and the highest
/// rate at which level changes are published (10 a second).
constexpr uint32_t kTickMs = 100;

}  // namespace

std::string StatusName(const std::string& node_name, const std::string& subject) {
  // rqt_robot_monitor splits status names on '/': a flow id keeps its place.
  std::string name = node_name + ": " + subject;
  for (char& c : name) {
    if (c == '/') {
      c = '_';
    }
  }
  return name;
}

std::string ReportingName(const rclcpp::Node& node) {
  const std::string node_namespace = node.get_namespace();
  return node_namespace == "/" ? node.get_name() : node_namespace.substr(1) + "/" + node.get_name();
}

std::shared_ptr<DiagnosticArrayPublisher> CreateDiagnosticsPublisher(rclcpp::Node& node) {
  // rclcpp's default reliability and durability are the ones wanted.
  return node.create_publisher<diagnostic_msgs::msg::DiagnosticArray>("/diagnostics",
                                                                      rclcpp::QoS(1));
}

HealthReporter::HealthReporter(Snapshot snapshot, Stall stall)
    : snapshot_(std::move(snapshot)),
      stall_(std::move(stall)),
      thread_("diagnostics", [this] { tick(); }) {}

void HealthReporter::Configure(Settings settings) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = std::move(settings);
    observations_.clear();
    published_levels_.clear();
    last_publish_ = SteadyTime();
  }
  updateThread();
}

void HealthReporter::WatchStalls() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.watch_stalls = true;
  }
  updateThread();
}

void HealthReporter::updateThread() {
  bool busy = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    busy = settings_.publisher != nullptr || settings_.watch_stalls;
  }
  thread_.SetPeriod(busy ? kTickMs : 0);
  thread_.Start();
}

void HealthReporter::tick() {
  std::lock_guard<std::mutex> lock(mutex_);
  snapshot_(flows_);
  std::vector<FlowSnapshot>& flows = flows_;
  const SteadyTime now = std::chrono::steady_clock::now();

  std::unordered_map<std::string, FlowObservation> observations;
  std::unordered_map<std::string, FlowLevel> levels;
  for (FlowSnapshot& flow : flows) {
    auto seen = observations_.find(flow.flow_id);
    // A flow seen for the first time counts its points from now.
    FlowObservation observation =
        seen != observations_.end() ? seen->second : FlowObservation{flow.mark(), now, false};
    Observe(flow, now, observation);
    if (settings_.watch_stalls && StallBegins(flow, observation, now)) {
      if (auto stalled = stall_(flow.flow_id, observation.mark)) {
        flow = std::move(*stalled);
        observation.stalled = true;
      }
    }
    if (settings_.publisher) {
      levels[flow.flow_id] = AssessLevel(flow, observation, now, settings_.heartbeat_period_ms);
    }
    observations.emplace(flow.flow_id, observation);
  }
  // Removed flows are forgotten.
  observations_.swap(observations);

  if (!settings_.publisher) {
    return;
  }
  const bool due =
      now - last_publish_ >= std::chrono::milliseconds(settings_.diagnostics.period_ms);
  if (!due && levels == published_levels_) {
    return;
  }
  // Messages and values are only built for the ticks that publish them.
  diagnostic_msgs::msg::DiagnosticArray array;
  array.status.reserve(flows.size());
  for (const FlowSnapshot& flow : flows) {
    array.status.push_back(status(flow, AssessFlow(flow, observations_.at(flow.flow_id), now,
                                                   settings_.heartbeat_period_ms)));
  }
  array.header.stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
  settings_.publisher->publish(array);
  published_levels_.swap(levels);
  last_publish_ = now;
}

diagnostic_msgs::msg::DiagnosticStatus HealthReporter::status(const FlowSnapshot& flow,
                                                              const FlowHealth& health) const {
  diagnostic_msgs::msg::DiagnosticStatus status;
  status.level = static_cast<unsigned char>(health.level);
  status.name = StatusName(settings_.node_name, flow.flow_id);
  status.message = health.message;
  status.hardware_id = settings_.diagnostics.hardware_id.empty()
                           ? settings_.node_name
                           : settings_.diagnostics.hardware_id;
  status.values.reserve(health.values.size());
  for (const auto& [key, value] : health.values) {
    diagnostic_msgs::msg::KeyValue entry;
    entry.key = key;
    entry.value = value;
    status.values.push_back(std::move(entry));
  }
  return status;
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune
