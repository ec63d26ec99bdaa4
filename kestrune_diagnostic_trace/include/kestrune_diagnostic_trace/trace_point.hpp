#ifndef KESTRUNE_DIAGNOSTIC_TRACE__TRACE_POINT_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__TRACE_POINT_HPP_

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>

namespace kestrune {
namespace trace {

/// One reported point of a flow, stamped with the wall clock when it is made.
struct TracePoint {
  /// Takes the time stamp now: system-clock milliseconds since the Unix epoch.
  TracePoint(const std::string& point_id, bool success);
  virtual ~TracePoint() = default;

  std::string point_id;
  int64_t timestamp_ms;
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
