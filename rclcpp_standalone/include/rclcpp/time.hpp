#ifndef RCLCPP__TIME_HPP_
#define RCLCPP__TIME_HPP_

#include <cstdint>

#include <rcl/time.h>
#include <builtin_interfaces/msg/time.hpp>

namespace rclcpp {

/// A time point in nanoseconds of a given clock type.
class Time {
 public:
  explicit Time(int64_t nanoseconds = 0, rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);

  /// Same conversion as rclcpp's: seconds floored, nanoseconds in [0, 1e9).
  operator builtin_interfaces::msg::Time() const;  // NOLINT(runtime/explicit)

  int64_t nanoseconds() const { return nanoseconds_; }
  rcl_clock_type_t get_clock_type() const { return clock_type_; }

 private:
  int64_t nanoseconds_;
  rcl_clock_type_t clock_type_;
};

}  // namespace rclcpp

#endif  // RCLCPP__TIME_HPP_
