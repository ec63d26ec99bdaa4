#ifndef RCLCPP_STANDALONE__DOMAIN_SETTINGS_HPP_
#define RCLCPP_STANDALONE__DOMAIN_SETTINGS_HPP_

#include <cstdint>
#include <string>

namespace rclcpp {
namespace detail {

/// The DDS domain a process joins, from the environment as rcl and
/// rmw_cyclonedds_cpp read it.
struct DomainSettings {
  uint32_t domain_id{0};
  bool localhost_only{false};

  /// ROS_DOMAIN_ID (unset or empty: 0) and ROS_LOCALHOST_ONLY (exactly "1":
  /// on). Throws std::runtime_error when ROS_DOMAIN_ID is not a domain id.
  static DomainSettings from_environment();

  /// ROS_DOMAIN_ID's value as a domain id; throws std::runtime_error naming the problem.
  static uint32_t parse_domain_id(const std::string& text);

  /// The Cyclone configuration rmw_cyclonedds_cpp creates the domain with: the
  /// loopback-interface fragment when localhost-only, then `cyclonedds_uri`.
  std::string cyclone_config(const std::string& cyclonedds_uri) const;
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP_STANDALONE__DOMAIN_SETTINGS_HPP_
