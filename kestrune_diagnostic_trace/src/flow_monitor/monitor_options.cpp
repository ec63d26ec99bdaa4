#include "monitor_options.hpp"

#include <stdexcept>

#include "program_options/command_line.hpp"

namespace kestrune {
namespace monitor {

MonitorOptions MonitorOptions::parse(int argc, const char* const* argv) {
  MonitorOptions options;
  WalkOptions(argc, argv, {"--config", "--bind", "--port", "--max-clients"}, options.help,
              [&options](const std::string& option, const std::string& value) {
                if (option == "--config") {
                  options.config_path = value;
                } else if (option == "--bind") {
                  if (value.empty()) {
                    throw std::invalid_argument("--bind needs an address");
                  }
                  options.server.bind = value;
                } else if (option == "--port") {
                  options.server.port = static_cast<int>(ParseWholeNumber(option, value, 0, 65535));
                } else {
                  options.server.max_clients = ParseWholeNumber(option, value, 1, 1000);
                }
              });
  return options;
}

}  // namespace monitor
}  // namespace kestrune
