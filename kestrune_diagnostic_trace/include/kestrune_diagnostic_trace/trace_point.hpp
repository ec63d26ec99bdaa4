#ifndef KESTRUNE_DIAGNOSTIC_TRACE__TRACE_POINT_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__TRACE_POINT_HPP_

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace kestrune {
namespace trace {

/// One reported point of a flow, stamped with the wall clock and the steady
/// clock when it is made.
struct TracePoint {
  using SteadyTime = std::chrono::steady_clock::time_point;

  /// Takes both stamps now: system-clock milliseconds since the Unix epoch, and
  /// the steady clock.
  TracePoint(const std::string& point_id, bool success);
  virtual ~TracePoint() = default;

  std::string point_id;
  int64_t timestamp_ms;
  /// When the point was made on this process's steady clock: run budgets and
  /// statistics measure with it, so a step of the wall clock changes nothing.
  /// Whoever sets `timestamp_ms` to another process's stamp must empty it:
  /// a run with a point without it is measured by `timestamp_ms`, and left out
  /// of the statistics (and counted) when those go backwards.
  std::optional<SteadyTime> steady_time;
  /// False when the reporter says the point itself failed.
  bool success;
  /// Position in its flow queue, assigned when the point is recorded.
  uint32_t index{0};
  std::unordered_map<std::string, std::string> metadata;
};

/// The recorded points of one flow, oldest first.
using FlowQueue = std::deque<std::shared_ptr<TracePoint>>;

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__TRACE_POINT_HPP_
