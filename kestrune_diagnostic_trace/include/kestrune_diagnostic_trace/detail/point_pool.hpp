#ifndef KESTRUNE_DIAGNOSTIC_TRACE__DETAIL__POINT_POOL_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__DETAIL__POINT_POOL_HPP_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kestrune_diagnostic_trace/trace_point.hpp"

namespace kestrune {
namespace trace {
namespace detail {

/// The points of a flow's earlier runs that nobody holds any more, kept so
/// that recording a point allocates nothing once a run has been seen.
///
/// Part of the engine's per-flow state: used under the engine mutex. A point
/// still held elsewhere (by a check result, or by the caller who prepared it)
/// is never kept, so a point handed out is never changed behind its holder.
class PointPool {
 public:
  /// A point of `point_id` stamped `timestamp_ms`: a kept one rewritten in
  /// place (its id reuses its buffer), or a new one when none is kept.
  std::shared_ptr<TracePoint> Take(const std::string& point_id, bool success, int64_t timestamp_ms);

  /// Keeps `point` for reuse. When it may have been `handed_out`, only if
  /// nobody else holds it and the engine made it (not a caller's subclass);
  /// otherwise it is left alone.
  void Keep(std::shared_ptr<TracePoint>&& point, bool handed_out);

  /// Keeps the points of `queue` it can and empties the queue; the next run
  /// takes them in the same order, so each id meets a buffer that fits it.
  void KeepAll(FlowQueue& queue, bool handed_out);

 private:
  /// Taken from the back.
  std::vector<std::shared_ptr<TracePoint>> spare_;
};

/// Whether only the caller's `point` refers to its object.
bool HeldOnlyHere(const std::shared_ptr<TracePoint>& point);

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__DETAIL__POINT_POOL_HPP_
