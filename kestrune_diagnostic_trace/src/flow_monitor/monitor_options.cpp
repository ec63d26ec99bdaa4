#include "monitor_options.hpp"

#include <stdexcept>

#include "program_options/whole_number.hpp"

namespace kestrune {
namespace monitor {

MonitorOptions MonitorOptions::parse(int argc, const char* const* argv) {
  MonitorOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--ros-args") {
      break;
    }
    if (argument == "-h" || argument == "--help") {
      options.help = true;
      continue;
    }
    if (argument != "--config" && argument != "--bind" && argument != "--port" &&
        argument != "--max-clients") {
      throw std::invalid_argument("unknown argument '" + argument + "'");
    }
    if (i + 1 >= argc) {
      throw std::invalid_argument(argument + " needs a value");
    }
    const std::string value = argv[++i];
    if (argument == "--config") {
      options.config_path = value;
    } else if (argument == "--bind") {
      if (value.empty()) {
        throw std::invalid_argument("--bind needs an address");
      }
      options.server.bind = value;
    } else if (argument == "--port") {
      options.server.port = static_cast<int>(ParseWholeNumber(argument, value, 0, 65535));
    } else {
      options.server.max_clients = ParseWholeNumber(argument, value, 1, 1000);
    }
  }
  return options;
}

}  // namespace monitor
}  // namespace kestrune
