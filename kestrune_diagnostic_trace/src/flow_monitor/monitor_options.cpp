#include "monitor_options.hpp"

#include <stdexcept>

#include "program_options/command_line.hpp"

namespace kestrune {
namespace monitor {

MonitorOptions MonitorOptions::parse(int argc, const char* const* argv) {
  MonitorOptions options;
  bool sized = false;
  WalkOptions(
      argc, argv,
      {"--config", "--bind", "--port", "--max-connections", "--request-timeout", "--record",
       "--record-max-mb", "--record-keep", "--replay"},
      {"--no-http"}, options.help,
      [&options, &sized](const std::string& argument, const std::string& value) {
        if (argument == "--no-http") {
          options.serve = false;
        } else if (argument == "--config") {
          options.config_path = value;
        } else if (argument == "--bind") {
          if (value.empty()) {
            throw std::invalid_argument("--bind needs an address");
          }
          options.server.bind = value;
        } else if (argument == "--port") {
          options.server.port = static_cast<int>(ParseWholeNumber(argument, value, 0, 65535));
        } else if (argument == "--max-connections") {
          options.server.max_connections = ParseWholeNumber(argument, value, 1, 100000);
        } else if (argument == "--request-timeout") {
          options.server.request_timeout =
              std::chrono::seconds(ParseWholeNumber(argument, value, 1, 3600));
        } else if (argument == "--record" || argument == "--replay") {
          if (value.empty()) {
            throw std::invalid_argument(argument + " needs a file");
          }
          (argument == "--record" ? options.record.path : options.replay_path) = value;
        } else if (argument == "--record-max-mb") {
          options.record.max_bytes =
              ParseWholeNumber(argument, value, 1, 1000000) * 1024ULL * 1024ULL;
          sized = true;
        } else {
          options.record.keep = static_cast<unsigned>(ParseWholeNumber(argument, value, 0, 1000));
          sized = true;
        }
      });
  if (sized && options.record.path.empty()) {
    throw std::invalid_argument("--record-max-mb and --record-keep need --record FILE");
  }
  if (!options.serve && options.record.path.empty()) {
    throw std::invalid_argument("--no-http needs --record FILE: otherwise nothing is shown");
  }
  if (!options.replay_path.empty() && (!options.serve || !options.record.path.empty())) {
    throw std::invalid_argument("--replay shows a record: it takes neither --record nor --no-http");
  }
  return options;
}

}  // namespace monitor
}  // namespace kestrune
