#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__CHECKER_OPTIONS_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__CHECKER_OPTIONS_HPP_

#include <chrono>
#include <cstddef>
#include <string>

namespace kestrune {
namespace checker {

/// What flow_checker was asked to do, from its command line.
struct CheckerOptions {
  static constexpr size_t kDefaultQueueDepth = 10000;
  static constexpr unsigned long kDefaultReorderMs = 50;

  static constexpr const char* kUsage =
      "usage: flow_checker --config FILE [--points-topic TOPIC] [--reorder-ms N]\n"
      "                    [--queue-depth N] [--ros-args ...]\n"
      "Judges flows whose points are sent from other nodes and processes.\n"
      "  --config FILE         the flow file: the flows to judge, as in a node's own file\n"
      "  --points-topic TOPIC  where points arrive (default: the file's points_topic,\n"
      "                        else kestrune/points, relative to the checker's namespace)\n"
      "  --reorder-ms N        how long each point is held to put points from several\n"
      "                        senders in stamp order (default 50; 0 to 60000)\n"
      "  --queue-depth N       points the subscription keeps while the checker is busy,\n"
      "                        so that a burst is not dropped (default 10000)\n"
      "ROS arguments set the node's name (default flow_checker), namespace and remaps.\n";

  std::string config_path;
  /// Empty: the file's points_topic.
  std::string points_topic;
  std::chrono::milliseconds reorder_window{kDefaultReorderMs};
  size_t queue_depth{kDefaultQueueDepth};
  bool help{false};

  /// Throws std::invalid_argument naming what is wrong with the command line,
  /// a missing --config included. Stops at --ros-args, whose arguments belong to rclcpp.
  static CheckerOptions parse(int argc, const char* const* argv);
};

}  // namespace checker
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__CHECKER_OPTIONS_HPP_
