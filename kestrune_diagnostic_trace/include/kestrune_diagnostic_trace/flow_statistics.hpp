#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_STATISTICS_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_STATISTICS_HPP_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {
namespace trace {

/// How long one step of a flow takes: from the first recording of a configured
/// point to the first recording of the next one, over the passing runs of the
/// window that reached both.
struct StepStatistics {
  std::string from_point;
  std::string to_point;
  uint32_t count{0};
  double median_ms{0.0};
  double p95_ms{0.0};
  /// The median of the step's latest kRecentRuns runs.
  double recent_median_ms{0.0};
};

/// A flow's run durations, on the steady clock, over its latest passing runs.
/// A copy: reading it needs no lock.
struct FlowStatistics {
  /// The runs the drift judgement calls recent.
  static constexpr uint32_t kRecentRuns = 20;
  /// Runs that must have been measured before drift is judged.
  static constexpr uint64_t kDriftMinRuns = 50;

  /// How many passing runs the window keeps (`stats_window`).
  uint32_t window{0};
  /// Passing runs in the window; the figures below are 0 without any.
  uint32_t count{0};
  double min_ms{0.0};
  double median_ms{0.0};
  /// Nearest rank: the shortest duration that at least 95 % of the runs do not exceed.
  double p95_ms{0.0};
  double max_ms{0.0};
  /// The median of the latest min(count, kRecentRuns) runs.
  double recent_median_ms{0.0};
  /// The flow's budget_ms, and the share of the window's runs above it (0 to 1).
  uint32_t budget_ms{0};
  double over_budget_share{0.0};
  /// Since the flow was registered or loaded: passing runs measured, failed
  /// runs (never in the durations), and passing runs left out because their
  /// time stamps went backwards.
  uint64_t passed_runs{0};
  uint64_t failed_runs{0};
  uint64_t left_out_runs{0};
  /// One per pair of consecutive configured points, in order.
  std::vector<StepStatistics> steps;
  /// The step whose recent median grew most over its window median, when one grew.
  std::optional<size_t> slowest_growing_step;
};

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_STATISTICS_HPP_
