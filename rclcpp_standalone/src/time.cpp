#include "rclcpp/time.hpp"

namespace rclcpp {

namespace {
constexpr int64_t kNanosecondsPerSecond = 1000000000;
}  // namespace

Time::Time(int64_t nanoseconds, rcl_clock_type_t clock_type)
    : nanoseconds_(nanoseconds), clock_type_(clock_type) {}

Time::operator builtin_interfaces::msg::Time() const {
  builtin_interfaces::msg::Time msg;
  int64_t seconds = nanoseconds_ / kNanosecondsPerSecond;
  int64_t rest = nanoseconds_ % kNanosecondsPerSecond;
  if (rest < 0) {
    rest += kNanosecondsPerSecond;
    --seconds;
  }
  msg.sec = static_cast<int32_t>(seconds);
  msg.nanosec = static_cast<uint32_t>(rest);
  return msg;
}

}  // namespace rclcpp
