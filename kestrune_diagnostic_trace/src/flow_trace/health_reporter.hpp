#ifndef KESTRUNE_DIAGNOSTIC_TRACE__HEALTH_REPORTER_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__HEALTH_REPORTER_HPP_

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <diagnostic_msgs/msg/diagnostic_array.hpp>
#include <rclcpp/node.hpp>
#include <rclcpp/publisher.hpp>

#include "flow_health.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "periodic_thread.hpp"

namespace kestrune {
namespace trace {
namespace detail {

using DiagnosticArrayPublisher = rclcpp::Publisher<diagnostic_msgs::msg::DiagnosticArray>;

/// The publisher of /diagnostics, with diagnostic_updater's QoS: reliable (the
/// aggregator subscribes reliable), volatile, keep-last 1. Calls into ROS 2,
/// so never under the engine mutex.
std::shared_ptr<DiagnosticArrayPublisher> CreateDiagnosticsPublisher(rclcpp::Node& node);

/// "<node>: <subject>", the name of a status about `subject` reported by `node_name`.
std::string StatusName(const std::string& node_name, const std::string& subject);

/// How statuses name `node`: its name, under its namespace when that is not the
/// root ("robot1/flow_checker"), so that the nodes of several robots stay apart.
std::string ReportingName(const rclcpp::Node& node);

/// The flows' health over time: watches for stalled runs and publishes one
/// DiagnosticArray with a status per flow on /diagnostics, every period and
/// within one tick of a level change.
///
/// Runs on a thread of its own that ticks every 100 ms while there is anything
/// to do. Each tick takes the engine mutex only inside `snapshot` and `stall`,
/// and publishes outside it. Thread-safe.
class HealthReporter {
 public:
  /// Copies every flow into the vector (reusing its entries), sorted by flow id,
  /// under the engine mutex.
  using Snapshot = std::function<void(std::vector<FlowSnapshot>&)>;
  /// Sends the stall event of the flow if no point came since it stood at
  /// `mark`, and then returns the flow as it is after it. Takes the engine mutex.
  using Stall =
      std::function<std::optional<FlowSnapshot>(const std::string& flow_id, ArrivalMark mark)>;

  /// What one Init configures.
  struct Settings {
    DiagnosticsConfig diagnostics;
    /// Empty without a node or with diagnostics off: then nothing is published.
    std::shared_ptr<DiagnosticArrayPublisher> publisher;
    std::string node_name;
    /// Whether any flow has a stall_ms.
    bool watch_stalls{false};
    uint32_t heartbeat_period_ms{0};
  };

  HealthReporter(Snapshot snapshot, Stall stall);

  HealthReporter(const HealthReporter&) = delete;
  HealthReporter& operator=(const HealthReporter&) = delete;

  /// Replaces the settings; the thread runs while there is a publisher or stalls to watch.
  void Configure(Settings settings);
  /// Starts watching stalls, for a flow registered in code with a stall_ms.
  void WatchStalls();

 private:
  void tick();
  void updateThread();
  diagnostic_msgs::msg::DiagnosticStatus status(const FlowSnapshot& flow,
                                                const FlowHealth& health) const;

  const Snapshot snapshot_;
  const Stall stall_;
  // Held for a whole tick, so Configure never lands in the middle of one.
  std::mutex mutex_;
  Settings settings_;
  /// The last tick's flows; kept so that the next copies into its buffers.
  std::vector<FlowSnapshot> flows_;
  std::unordered_map<std::string, FlowObservation> observations_;
  /// Flow id → level of the last array published.
  std::unordered_map<std::string, FlowLevel> published_levels_;
  SteadyTime last_publish_;
  /// Last: stopped first on destruction, while the members above still live.
  PeriodicThread thread_;
};

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__HEALTH_REPORTER_HPP_
