#ifndef KESTRUNE_DIAGNOSTIC_TRACE__WALL_CLOCK_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__WALL_CLOCK_HPP_

#include <chrono>
#include <cstdint>

namespace kestrune {
namespace trace {
namespace detail {

/// A point's time stamp: system-clock milliseconds since the Unix epoch.
inline int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__WALL_CLOCK_HPP_
