#include "rclcpp/clock.hpp"

#include <chrono>

namespace rclcpp {

Clock::Clock(rcl_clock_type_t clock_type) : clock_type_(clock_type) {}

Time Clock::now() {
  // Without a ROS time source, ROS time is system time, as in rcl.
  const auto since_epoch = clock_type_ == RCL_STEADY_TIME
                               ? std::chrono::steady_clock::now().time_since_epoch()
                               : std::chrono::system_clock::now().time_since_epoch();
  return Time(std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count(),
              clock_type_);
}

}  // namespace rclcpp
