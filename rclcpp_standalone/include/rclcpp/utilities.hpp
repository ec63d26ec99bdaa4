#ifndef RCLCPP__UTILITIES_HPP_
#define RCLCPP__UTILITIES_HPP_

namespace rclcpp {

/// Starts the client and installs SIGINT/SIGTERM handling that shuts it down.
void init(int argc, char const* const* argv);

/// True from init() until shutdown.
bool ok();

/// Shuts the client down and wakes every spin(); false if it was not running.
bool shutdown();

}  // namespace rclcpp

#endif  // RCLCPP__UTILITIES_HPP_
