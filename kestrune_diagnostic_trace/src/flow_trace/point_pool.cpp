// Reused points: what keeps recording free of allocations in steady state.
#include "kestrune_diagnostic_trace/detail/point_pool.hpp"

#include <chrono>
#include <iterator>
#include <typeinfo>
#include <utility>

namespace kestrune {
namespace trace {
namespace detail {

bool HeldOnlyHere(const std::shared_ptr<TracePoint>& point) {
  // Counted through a copy: taking a reference is an acquire-release update of
  // the count, so this thread is ordered after whatever another holder did
  // with the point before it let go. use_count() alone reads without that order.
  const std::shared_ptr<TracePoint> probe = point;
  return probe.use_count() == 2;
}

std::shared_ptr<TracePoint> PointPool::Take(const std::string& point_id, bool success,
                                            int64_t timestamp_ms) {
  if (spare_.empty()) {
    auto point = std::make_shared<TracePoint>(point_id, success);
    point->timestamp_ms = timestamp_ms;
    return point;
  }
  std::shared_ptr<TracePoint> point = std::move(spare_.back());
  spare_.pop_back();
  // Usually the id it had in the last run: comparing costs less than copying.
  if (point->point_id != point_id) {
    point->point_id = point_id;
  }
  point->timestamp_ms = timestamp_ms;
  point->steady_time = std::chrono::steady_clock::now();
  point->success = success;
  point->index = 0;
  if (!point->metadata.empty()) {
    point->metadata.clear();
  }
  return point;
}

void PointPool::Keep(std::shared_ptr<TracePoint>&& point, bool handed_out) {
  const TracePoint* held = point.get();
  if (!handed_out ||
      (held != nullptr && typeid(*held) == typeid(TracePoint) && HeldOnlyHere(point))) {
    spare_.push_back(std::move(point));
  }
}

void PointPool::KeepAll(FlowQueue& queue, bool handed_out) {
  // Newest first, so that the oldest point is on top for the next run's first Take.
  if (handed_out) {
    for (auto point = queue.rbegin(); point != queue.rend(); ++point) {
      Keep(std::move(*point), true);
    }
  } else {
    spare_.insert(spare_.end(), std::make_move_iterator(queue.rbegin()),
                  std::make_move_iterator(queue.rend()));
  }
  queue.clear();
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune
