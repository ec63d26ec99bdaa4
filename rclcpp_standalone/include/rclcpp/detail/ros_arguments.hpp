#ifndef RCLCPP__DETAIL__ROS_ARGUMENTS_HPP_
#define RCLCPP__DETAIL__ROS_ARGUMENTS_HPP_

#include <string>
#include <vector>

namespace rclcpp {
namespace detail {

/// One `-r [node:]from:=to` rule of a command line's `--ros-args`.
struct RemapRule {
  /// The node it is limited to; empty for every node of the process.
  std::string node;
  std::string from;
  std::string to;

  /// Whether the rule applies to the node the code named `name`.
  bool applies_to(const std::string& name) const;
};

/// The `--ros-args` of a command line that the standalone layer honours:
/// remapping rules (`-r`/`--remap`) for the node name (`__node`, `__name`),
/// the namespace (`__ns`) and topics, in the order given. Other ROS arguments
/// (parameters, log levels) are set aside and listed.
class RosArguments {
 public:
  RosArguments() = default;

  /// Reads every `--ros-args ... [--]` section of argv. Throws
  /// std::invalid_argument naming the argument for a rule it cannot read or a
  /// namespace that is not absolute.
  static RosArguments parse(int argc, char const* const* argv);

  /// The ROS arguments set aside, each with its value: "-p x:=1".
  const std::vector<std::string>& ignored() const { return ignored_; }

  /// The node's name after the rules; `name` is the one the code gave.
  std::string node_name(const std::string& name) const;
  /// The node's namespace after the rules; `name` is the one the code gave.
  std::string node_namespace(const std::string& name, const std::string& namespace_) const;
  /// The fully qualified topic after the first rule that matches it, for the
  /// node `name` (as the code gave it) whose final name and namespace are
  /// `node_name` and `namespace_`. Throws what topic name expansion throws.
  std::string remap_topic(const std::string& topic, const std::string& name,
                          const std::string& node_name, const std::string& namespace_) const;

 private:
  std::vector<RemapRule> rules_;
  std::vector<std::string> ignored_;
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__ROS_ARGUMENTS_HPP_
