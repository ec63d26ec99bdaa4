#include "kestrune_diagnostic_trace/trace_point.hpp"

#include "wall_clock.hpp"

namespace kestrune {
namespace trace {

TracePoint::TracePoint(const std::string& point_id, bool success)
    : point_id(point_id),
      timestamp_ms(detail::WallClockMs()),
      steady_time(std::chrono::steady_clock::now()),
      success(success) {}

}  // namespace trace
}  // namespace kestrune
