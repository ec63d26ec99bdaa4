#ifndef RCLCPP__UTILITIES_HPP_
#define RCLCPP__UTILITIES_HPP_

namespace rclcpp {

/// Starts the client and installs SIGINT/SIGTERM handling that shuts it down.
/// Reads ROS_DOMAIN_ID and ROS_LOCALHOST_ONLY, and the remap rules among the
/// `--ros-args` of argv, which every node applies; other ROS arguments are named
/// on stderr and ignored. Throws std::runtime_error for an invalid ROS_DOMAIN_ID
/// and std::invalid_argument for a remap rule it cannot read.
void init(int argc, char const* const* argv);

/// True from init() until shutdown.
bool ok();

/// Shuts the client down and wakes every spin(); returns once what was published
/// has been delivered (or Cyclone's writer linger ran out). False if it was not running.
bool shutdown();

}  // namespace rclcpp

#endif  // RCLCPP__UTILITIES_HPP_
