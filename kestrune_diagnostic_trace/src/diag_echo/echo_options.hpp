#ifndef KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__ECHO_OPTIONS_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__ECHO_OPTIONS_HPP_

#include <cstdint>
#include <optional>
#include <string>

namespace kestrune {
namespace diag_echo {

/// What diag_echo was asked to do, from its command line.
struct EchoOptions {
  static constexpr const char* kUsage =
      "usage: diag_echo <topic> [--domain <id>] [--count <n>]\n"
      "Prints every kestrune_protocol/msg/DiagnosticEvent arriving on <topic> as a YAML\n"
      "block followed by '---', as 'ros2 topic echo' does.\n"
      "  --domain <id>  DDS domain to listen in (default: ROS_DOMAIN_ID, else 0)\n"
      "  --count <n>    exit after <n> events (default: run until interrupted)\n";

  std::string topic;
  std::optional<std::string> domain;
  std::optional<uint64_t> count;
  bool help{false};

  /// Throws std::invalid_argument naming what is wrong with the command line.
  static EchoOptions parse(int argc, const char* const* argv);
};

}  // namespace diag_echo
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__ECHO_OPTIONS_HPP_
