#ifndef RCLCPP__EXPAND_TOPIC_OR_SERVICE_NAME_HPP_
#define RCLCPP__EXPAND_TOPIC_OR_SERVICE_NAME_HPP_

#include <string>

namespace rclcpp {

/// Expands a topic or service name into its fully qualified form by ROS 2's rules.
///
/// Relative names are put into `namespace_`, "~" stands for the node's fully
/// qualified name, "{node}" for its name and "{ns}" or "{namespace}" for its
/// namespace. Throws exceptions::InvalidTopicNameError (InvalidServiceNameError
/// when `is_service`) for a name that fails rcl's validation before expansion,
/// holds an unknown substitution, or fails rmw's validation of the full name after it.
std::string expand_topic_or_service_name(const std::string& name, const std::string& node_name,
                                         const std::string& namespace_, bool is_service = false);

}  // namespace rclcpp

#endif  // RCLCPP__EXPAND_TOPIC_OR_SERVICE_NAME_HPP_
