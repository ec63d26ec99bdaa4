#include "kestrune_diagnostic_trace/trace_point.hpp"

#include <chrono>

namespace kestrune {
namespace trace {

TracePoint::TracePoint(const std::string& point_id, bool success)
    : point_id(point_id),
      timestamp_ms(std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count()),
      steady_time(std::chrono::steady_clock::now()),
      success(success) {}

}  // namespace trace
}  // namespace kestrune
