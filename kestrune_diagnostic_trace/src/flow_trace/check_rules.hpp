#ifndef KESTRUNE_DIAGNOSTIC_TRACE__CHECK_RULES_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__CHECK_RULES_HPP_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "kestrune_diagnostic_trace/trace_flow_cfg.hpp"
#include "kestrune_diagnostic_trace/trace_point_cfg.hpp"

namespace kestrune {
namespace trace {
namespace detail {

// The rules the running check (point by point) and the flow check (a whole
// run) share, written once so that the two judge a run alike.

/// Whether `point_id` is the configured point after `at`: the point at `at`
/// is then passed over rather than the recording being out of place.
inline bool ComesNext(const TraceFlowCfg& flow, size_t at, const std::string& point_id) {
  return at + 1 < flow.flow_points.size() && point_id == flow.flow_points[at + 1]->point_id;
}

/// What a configured point the run went past (the next point came, or the run
/// ended) amounts to.
enum class PassedOver {
  /// A repeated point that came in this run, if fewer times than it asks for.
  kDone,
  /// Missing, but optional: a warning at most.
  kOptionalMissing,
  /// Missing and critical: a failure.
  kMissing,
};

/// Judges a point passed over; `matches_in_run` is how often it came in this run.
inline PassedOver JudgePassedOver(const TracePointCfg& point, uint32_t matches_in_run) {
  if (matches_in_run != 0) {
    return PassedOver::kDone;
  }
  return point.is_critical ? PassedOver::kMissing : PassedOver::kOptionalMissing;
}

/// How many consecutive recordings of a configured point the flow check takes
/// for it: one, or for a repeated point as many as the running check counted
/// in this run (at least one).
inline uint32_t RecordingsTaken(const TracePointCfg& point) {
  return point.repeat_cnt == 0 ? 1 : std::max<uint32_t>(1, point.exec_cnt);
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__CHECK_RULES_HPP_
