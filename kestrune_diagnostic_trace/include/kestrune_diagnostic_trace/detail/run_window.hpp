#ifndef KESTRUNE_DIAGNOSTIC_TRACE__DETAIL__RUN_WINDOW_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__DETAIL__RUN_WINDOW_HPP_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "kestrune_diagnostic_trace/flow_statistics.hpp"
#include "kestrune_diagnostic_trace/trace_point.hpp"

namespace kestrune {
namespace trace {
namespace detail {

/// The durations of a flow's latest passing runs, whole and per step, in rings
/// of fixed size. Part of the engine's per-flow state: written under the engine
/// mutex by CheckFlow, copied out under it; the sorting is Summarise's, outside.
class RunWindow {
 public:
  explicit RunWindow(uint32_t capacity = DiagnosticsConfig::kDefaultStatsWindow);

  /// Keeps the newest `capacity` runs (at least 1).
  void Resize(uint32_t capacity);
  /// Sets how many steps a run has; a change drops the step durations kept.
  /// Their ring is allocated with the first passing run.
  void SetSteps(size_t steps);
  uint32_t capacity() const { return capacity_; }
  size_t steps() const { return steps_; }
  uint32_t count() const { return count_; }

  /// A passing run: its duration and one duration per step, a negative one
  /// for a step the run did not measure. `step_ms` holds steps() values.
  /// Allocates nothing after the first.
  void AddPassed(double duration_ms, const double* step_ms);
  void AddFailed() { ++failed_; }
  void AddLeftOut() { ++left_out_; }

  /// The figures over the window; `points` names the steps. Sorts copies:
  /// call it on a copy taken under the lock, not under it.
  FlowStatistics Summarise(uint32_t budget_ms, const std::vector<std::string>& points) const;

 private:
  /// The duration `age` runs before the newest (0: the newest) in `ring`,
  /// whose rows are `width` wide, at column `column`.
  double at(const std::vector<double>& ring, size_t width, size_t column, uint32_t age) const;

  uint32_t capacity_;
  uint32_t count_{0};
  /// Where the next run goes.
  uint32_t next_{0};
  size_t steps_{0};
  std::vector<double> durations_;
  /// capacity_ rows of steps_ durations.
  std::vector<double> step_durations_;
  uint64_t passed_{0};
  uint64_t failed_{0};
  uint64_t left_out_{0};
};

/// How long a run took: from its first to its last recorded point on the
/// steady clock, or on the wall stamps when a point it measures has none (another
/// process's point).
struct RunTiming {
  /// False when the run is measured by wall stamps and they go backwards: it is left out.
  bool measured{false};
  /// Measured on the steady clock.
  bool steady{false};
  double duration_ms{0.0};
};

/// Measures a run and its `steps` steps into `step_ms` (-1: not measured).
/// `first_seen` holds, per configured point, its first recording in the run,
/// nullptr for a point not reached; a step is measured when the run reached
/// both its points, the later one after the earlier.
RunTiming MeasureRun(const std::deque<std::shared_ptr<TracePoint>>& queue,
                     const std::vector<const TracePoint*>& first_seen, double* step_ms,
                     size_t steps);

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__DETAIL__RUN_WINDOW_HPP_
