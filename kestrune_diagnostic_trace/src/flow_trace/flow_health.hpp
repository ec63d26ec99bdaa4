#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_HEALTH_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_HEALTH_HPP_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kestrune_diagnostic_trace/detail/run_facts.hpp"
#include "kestrune_diagnostic_trace/detail/run_window.hpp"
#include "kestrune_diagnostic_trace/flow_check_result.hpp"

namespace kestrune {
namespace trace {
namespace detail {

using SteadyTime = std::chrono::steady_clock::time_point;

/// The levels of diagnostic_msgs/DiagnosticStatus a flow can have; STALE is
/// the viewers' to derive from the stamps.
enum class FlowLevel : unsigned char { kOk = 0, kWarn = 1, kError = 2 };

/// Where a flow's recording stands: a run only grows and a reset starts a new
/// one, so a change of either tells that a point came, without the hot path
/// counting anything for it.
struct ArrivalMark {
  uint64_t runs{0};
  size_t run_points{0};

  bool operator==(const ArrivalMark& other) const {
    return runs == other.runs && run_points == other.run_points;
  }
  bool operator!=(const ArrivalMark& other) const { return !(*this == other); }
};

/// One flow as the engine holds it at one moment, copied under the engine mutex.
struct FlowSnapshot {
  std::string flow_id;
  bool heartbeat{false};
  uint32_t event_id{0};
  uint32_t stall_ms{0};
  size_t configured_points{0};
  /// Points recorded since the last reset.
  size_t run_points{0};
  /// The newest recorded point; empty when the run has none.
  std::string last_point;
  /// The point an ordered flow expects next; empty when none.
  std::string next_point;
  /// The run has reached its last configured point.
  bool run_complete{false};
  RunFacts facts;
  uint32_t budget_ms{0};
  uint32_t drift_pct{0};
  /// The run statistics and the configured points' ids, once a run was measured.
  std::optional<RunWindow> window;
  std::vector<std::string> point_ids;

  ArrivalMark mark() const { return {facts.runs, run_points}; }
};

/// What the health reporter has seen of a flow over time: points are noticed
/// by the change of its mark, on the steady clock, so the hot path reads no
/// clock for it and a stepped wall clock stalls nothing.
struct FlowObservation {
  ArrivalMark mark;
  /// When a new point was last noticed, or the flow was first seen.
  SteadyTime last_change;
  bool stalled{false};
};

/// A flow's health: a level, a one-line summary and readable values.
struct FlowHealth {
  FlowLevel level{FlowLevel::kOk};
  std::string message;
  std::vector<std::pair<std::string, std::string>> values;
};

/// Brings `observation` up to `snapshot` as seen at `now`: a new point ends a stall.
void Observe(const FlowSnapshot& snapshot, SteadyTime now, FlowObservation& observation);

/// Whether the flow's run stalls now: it has started, has not reached its
/// last configured point, and no point came for its stall_ms.
bool StallBegins(const FlowSnapshot& snapshot, const FlowObservation& observation, SteadyTime now);

/// The flow's level alone, without building its message and values.
FlowLevel AssessLevel(const FlowSnapshot& snapshot, const FlowObservation& observation,
                      SteadyTime now, uint32_t heartbeat_period_ms);

/// The flow's health; `heartbeat_period_ms` judges the heartbeat flow's last beat.
FlowHealth AssessFlow(const FlowSnapshot& snapshot, const FlowObservation& observation,
                      SteadyTime now, uint32_t heartbeat_period_ms);

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_HEALTH_HPP_
