#include "rclcpp/detail/ros_arguments.hpp"

#include <set>
#include <stdexcept>

#include "rclcpp/expand_topic_or_service_name.hpp"

namespace rclcpp {
namespace detail {

namespace {

constexpr char kRosArgs[] = "--ros-args";
constexpr char kEndOfRosArgs[] = "--";
constexpr char kNodeRule[] = "__node";
constexpr char kNameRule[] = "__name";
constexpr char kNamespaceRule[] = "__ns";
// rcl's options that take a value, besides the remap rules.
const std::set<std::string> kOptionsWithValue{"-p", "--param",   "--params-file",    "--log-level",
                                              "-e", "--enclave", "--log-config-file"};

RemapRule ParseRule(const std::string& text) {
  const size_t separator = text.find(":=");
  if (separator == std::string::npos || separator == 0 || separator + 2 == text.size()) {
    throw std::invalid_argument("--ros-args: cannot read the remap rule '" + text +
                                "': expected [node:]from:=to");
  }
  RemapRule rule;
  rule.from = text.substr(0, separator);
  rule.to = text.substr(separator + 2);
  // "node:from" limits the rule to one node; "~/x" and "/x" hold no ':' of their own.
  const size_t colon = rule.from.find(':');
  if (colon != std::string::npos) {
    rule.node = rule.from.substr(0, colon);
    rule.from = rule.from.substr(colon + 1);
  }
  if (rule.from == kNamespaceRule && rule.to.front() != '/') {
    throw std::invalid_argument("--ros-args: the namespace in '" + text +
                                "' must be absolute (start with '/')");
  }
  return rule;
}

}  // namespace

RosArguments RosArguments::parse(int argc, char const* const* argv) {
  RosArguments arguments;
  bool in_ros_args = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (!in_ros_args) {
      in_ros_args = argument == kRosArgs;
      continue;
    }
    if (argument == kEndOfRosArgs) {
      in_ros_args = false;
    } else if (argument == kRosArgs) {
      continue;
    } else if (argument == "-r" || argument == "--remap") {
      if (i + 1 >= argc) {
        throw std::invalid_argument("--ros-args: " + argument + " needs a rule");
      }
      arguments.rules_.push_back(ParseRule(argv[++i]));
    } else if (argument.rfind("--remap=", 0) == 0) {
      arguments.rules_.push_back(ParseRule(argument.substr(8)));
    } else {
      // Parameters and logging settings mean nothing here: they are set aside,
      // with the value of an option that takes one, and named to the caller.
      std::string ignored = argument;
      if (kOptionsWithValue.count(argument) != 0 && i + 1 < argc) {
        ignored += std::string(" ") + argv[++i];
      }
      arguments.ignored_.push_back(ignored);
    }
  }
  return arguments;
}

bool RemapRule::applies_to(const std::string& name) const {
  return node.empty() || node == name;
}

std::string RosArguments::node_name(const std::string& name) const {
  for (const RemapRule& rule : rules_) {
    // As in rcl, "__node" and "__name" are one rule.
    if ((rule.from == kNodeRule || rule.from == kNameRule) && rule.applies_to(name)) {
      return rule.to;
    }
  }
  return name;
}

std::string RosArguments::node_namespace(const std::string& name,
                                         const std::string& namespace_) const {
  for (const RemapRule& rule : rules_) {
    if (rule.from == kNamespaceRule && rule.applies_to(name)) {
      return rule.to;
    }
  }
  return namespace_;
}

std::string RosArguments::remap_topic(const std::string& topic, const std::string& name,
                                      const std::string& node_name,
                                      const std::string& namespace_) const {
  for (const RemapRule& rule : rules_) {
    if (!rule.applies_to(name) || rule.from.rfind("__", 0) == 0) {
      continue;
    }
    if (expand_topic_or_service_name(rule.from, node_name, namespace_) == topic) {
      return expand_topic_or_service_name(rule.to, node_name, namespace_);
    }
  }
  return topic;
}

}  // namespace detail
}  // namespace rclcpp
