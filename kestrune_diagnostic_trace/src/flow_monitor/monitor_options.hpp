#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_OPTIONS_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_OPTIONS_HPP_

#include <string>

#include "monitor_server.hpp"

namespace kestrune {
namespace monitor {

/// What flow_monitor was asked to do, from its command line.
struct MonitorOptions {
  static constexpr const char* kUsage =
      "usage: flow_monitor [--config FILE] [--bind ADDRESS] [--port N] [--max-clients N]\n"
      "                    [--ros-args ...]\n"
      "Shows every flow reporting on /diagnostics as a live page.\n"
      "  --config FILE     the robot's flow configuration: adds each flow's points and\n"
      "                    listens to its events\n"
      "  --bind ADDRESS    address to listen on (default 127.0.0.1; 0.0.0.0 exposes the\n"
      "                    page, without authentication, to every network of the robot)\n"
      "  --port N          TCP port (default 8080; 0 picks a free one)\n"
      "  --max-clients N   live pages served at once (default 8)\n";

  std::string config_path;
  ServerOptions server;
  bool help{false};

  /// Throws std::invalid_argument naming what is wrong with the command line.
  /// Stops at --ros-args, whose arguments belong to rclcpp.
  static MonitorOptions parse(int argc, const char* const* argv);
};

}  // namespace monitor
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_OPTIONS_HPP_
