// Topic names judged by ROS 2's own rules, as the engine's publishers and the
// monitor's subscriptions will judge them.
#include "topic_name.hpp"

#include <stdexcept>

#include <fmt/format.h>

#include <rclcpp/exceptions.hpp>
#include <rclcpp/expand_topic_or_service_name.hpp>

namespace kestrune {
namespace flow_tool {

std::string TopicNameProblem(const std::string& topic) {
  std::string why;
  try {
    rclcpp::expand_topic_or_service_name(topic, "kestrune_flow", "/");
    return why;
  } catch (const rclcpp::exceptions::NameValidationError& e) {
    why = e.name == topic ? fmt::format("{} (character {})", e.error_msg, e.invalid_index + 1)
                          : fmt::format("it expands to '{}', and {} (character {})", e.name,
                                        e.error_msg, e.invalid_index + 1);
  } catch (const std::runtime_error& e) {
    // rclcpp reports an unknown substitution such as "{robot}" this way.
    why = e.what();
  }
  if (topic.find("{ns}") != std::string::npos || topic.find("{namespace}") != std::string::npos) {
    why += "; '{ns}' stands for the node's namespace, which begins with '/'";
  }
  return why;
}

}  // namespace flow_tool
}  // namespace kestrune
