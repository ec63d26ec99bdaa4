#include "echo_options.hpp"

#include <stdexcept>

namespace kestrune {
namespace diag_echo {

namespace {

uint64_t parse_count(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
      text.size() > 19 || std::stoull(text) == 0) {
    throw std::invalid_argument("--count needs a positive whole number, not '" + text + "'");
  }
  return std::stoull(text);
}

}  // namespace

EchoOptions EchoOptions::parse(int argc, const char* const* argv) {
  EchoOptions options;
  std::optional<Type> typed;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool has_value = i + 1 < argc;
    if (argument == "-h" || argument == "--help") {
      options.help = true;
    } else if (argument == "--domain" || argument == "--count" || argument == "--type" ||
               argument == "--format") {
      if (!has_value) {
        throw std::invalid_argument(argument + " needs a value");
      }
      const std::string value = argv[++i];
      if (argument == "--type") {
        if (value != "event" && value != "diagnostics" &&
            value != "kestrune_protocol/msg/DiagnosticEvent" &&
            value != "diagnostic_msgs/msg/DiagnosticArray") {
          throw std::invalid_argument("--type needs event or diagnostics, not '" + value + "'");
        }
        typed = value == "diagnostics" || value == "diagnostic_msgs/msg/DiagnosticArray"
                    ? Type::kDiagnostics
                    : Type::kEvent;
      } else if (argument == "--format") {
        if (value != "yaml" && value != "json") {
          throw std::invalid_argument("--format needs yaml or json, not '" + value + "'");
        }
        options.format = value == "json" ? Format::kJson : Format::kYaml;
      } else if (argument == "--domain") {
        // Only the form here; rclcpp::init checks the range as it checks ROS_DOMAIN_ID.
        if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) {
          throw std::invalid_argument("--domain needs a domain id, not '" + value + "'");
        }
        options.domain = value;
      } else {
        options.count = parse_count(value);
      }
    } else if (argument.rfind("--", 0) == 0) {
      throw std::invalid_argument("unknown option " + argument);
    } else if (options.topic.empty()) {
      options.topic = argument;
    } else {
      throw std::invalid_argument("one topic only, got '" + options.topic + "' and '" + argument +
                                  "'");
    }
  }
  if (options.topic.empty() && !options.help) {
    throw std::invalid_argument("no topic given");
  }
  // The diagnostics pipeline's topics carry arrays; a node's events go elsewhere.
  const std::string absolute =
      options.topic.rfind('/', 0) == 0 ? options.topic : "/" + options.topic;
  const bool diagnostics_topic = absolute == "/diagnostics" || absolute == "/diagnostics_agg";
  options.type = typed.value_or(diagnostics_topic ? Type::kDiagnostics : Type::kEvent);
  return options;
}

}  // namespace diag_echo
}  // namespace kestrune
