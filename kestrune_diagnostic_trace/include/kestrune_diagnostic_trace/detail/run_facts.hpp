#ifndef KESTRUNE_DIAGNOSTIC_TRACE__DETAIL__RUN_FACTS_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__DETAIL__RUN_FACTS_HPP_

#include <cstdint>
#include <optional>
#include <string>

#include "kestrune_diagnostic_trace/flow_check_result.hpp"

namespace kestrune {
namespace trace {
namespace detail {

/// What a flow's running check and flow checks have found, kept for its health
/// report. Part of the engine's per-flow state: written under the engine
/// mutex, copied out under it.
struct RunFacts {
  /// Resets of the flow, each the start of a new run.
  uint64_t runs{0};

  // The current run, started by the last reset.
  bool optional_trouble{false};
  bool timeout_sent{false};
  /// Points recorded after points stamped later than them (NoteLatePoint).
  uint64_t late_points{0};
  // The run before it.
  bool last_optional_trouble{false};
  bool last_timeout_sent{false};
  uint64_t last_late_points{0};

  /// A failure event or a stall since the last check that passed.
  bool error_latched{false};
  /// The point and reason of the latest failure, reported or judged.
  std::string failure_point;
  std::string failure_reason;

  std::optional<FlowCheckStatus> last_verdict;
  /// Of the last checked run: its length and how many configured points it reached.
  uint64_t last_run_duration_ms{0};
  size_t last_run_points_reached{0};
  uint64_t runs_checked{0};
  uint64_t runs_failed{0};
  uint64_t timeouts{0};
  std::string last_event;

  /// The last measured passing run took longer than the budget it had:
  /// how long, and that budget (ms). Cleared by a passing run within budget.
  bool over_budget{false};
  uint64_t over_budget_took_ms{0};
  uint32_t over_budget_limit_ms{0};

  void NoteFailure(const std::string& point_id, const char* reason) {
    error_latched = true;
    failure_point = point_id;
    failure_reason = reason;
  }
  void NoteTimeout() {
    timeout_sent = true;
    ++timeouts;
  }
  /// A reset ends the run: what it had becomes the last run's.
  void NewRun() {
    ++runs;
    last_optional_trouble = optional_trouble;
    last_timeout_sent = timeout_sent;
    last_late_points = late_points;
    optional_trouble = false;
    timeout_sent = false;
    late_points = 0;
  }
};

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__DETAIL__RUN_FACTS_HPP_
