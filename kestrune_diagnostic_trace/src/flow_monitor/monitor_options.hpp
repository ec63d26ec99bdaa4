#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_OPTIONS_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_OPTIONS_HPP_

#include <string>

#include "flow_record.hpp"
#include "monitor_server.hpp"

namespace kestrune {
namespace monitor {

/// What flow_monitor was asked to do, from its command line.
struct MonitorOptions {
  static constexpr const char* kUsage =
      "usage: flow_monitor [--config FILE] [--bind ADDRESS] [--port N] [--max-connections N]\n"
      "                    [--request-timeout S] [--record FILE [--record-max-mb N]\n"
      "                    [--record-keep N]] [--no-http] [--replay FILE] [--ros-args ...]\n"
      "Shows every flow reporting on /diagnostics as a live page.\n"
      "  --config FILE         the robot's flow configuration: adds each flow's points and\n"
      "                        listens to its events\n"
      "  --bind ADDRESS        address to listen on (default 127.0.0.1; 0.0.0.0 exposes the\n"
      "                        page, without authentication, to every network of the robot)\n"
      "  --port N              TCP port (default 8080; 0 picks a free one)\n"
      "  --max-connections N   connections open at once (default 256); when all are taken\n"
      "                        the one that has waited longest for its request is closed\n"
      "  --request-timeout S   seconds a request's line and headers may take (default 5)\n"
      "  --record FILE         append every event, level change and verdict to FILE as\n"
      "                        JSON lines\n"
      "  --record-max-mb N     rotate the record at N MiB (default 64)\n"
      "  --record-keep N       old records kept as FILE.1 ... FILE.N (default 4)\n"
      "  --no-http             serve no page: record only, with no port open\n"
      "  --replay FILE         show a record's flows as they were at its end, instead of\n"
      "                        listening to the robot\n";

  std::string config_path;
  ServerOptions server;
  RecordOptions record;
  bool serve{true};
  std::string replay_path;
  bool help{false};

  /// Throws std::invalid_argument naming what is wrong with the command line.
  /// Stops at --ros-args, whose arguments belong to rclcpp.
  static MonitorOptions parse(int argc, const char* const* argv);
};

}  // namespace monitor
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_OPTIONS_HPP_
