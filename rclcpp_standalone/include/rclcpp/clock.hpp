#ifndef RCLCPP__CLOCK_HPP_
#define RCLCPP__CLOCK_HPP_

#include <rcl/time.h>

#include "rclcpp/time.hpp"

namespace rclcpp {

/// A clock of the given type; only the system and steady clocks exist without ROS time.
class Clock {
 public:
  explicit Clock(rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);

  Time now();

  rcl_clock_type_t get_clock_type() const { return clock_type_; }

 private:
  rcl_clock_type_t clock_type_;
};

}  // namespace rclcpp

#endif  // RCLCPP__CLOCK_HPP_
