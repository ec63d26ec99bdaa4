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
      "usage: diag_echo <topic> [--type event|diagnostics] [--format yaml|json]\n"
      "                 [--domain <id>] [--count <n>]\n"
      "Prints every message arriving on <topic>, as 'ros2 topic echo' does: a YAML\n"
      "block followed by '---', or one JSON object a line.\n"
      "  --type <type>     event: kestrune_protocol/msg/DiagnosticEvent; diagnostics:\n"
      "                    diagnostic_msgs/msg/DiagnosticArray (default: diagnostics on\n"
      "                    /diagnostics and /diagnostics_agg, event elsewhere)\n"
      "  --format <format> yaml (default) or json (JSON lines)\n"
      "  --domain <id>     DDS domain to listen in (default: ROS_DOMAIN_ID, else 0)\n"
      "  --count <n>       exit after <n> messages (default: run until interrupted)\n";

  /// The message types diag_echo reads.
  enum class Type { kEvent, kDiagnostics };
  enum class Format { kYaml, kJson };

  std::string topic;
  Type type{Type::kEvent};
  Format format{Format::kYaml};
  std::optional<std::string> domain;
  std::optional<uint64_t> count;
  bool help{false};

  /// Throws std::invalid_argument naming what is wrong with the command line.
  static EchoOptions parse(int argc, const char* const* argv);
};

}  // namespace diag_echo
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__ECHO_OPTIONS_HPP_
