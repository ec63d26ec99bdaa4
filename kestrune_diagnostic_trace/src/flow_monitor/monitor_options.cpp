#include "monitor_options.hpp"

#include <set>
#include <stdexcept>

namespace kestrune {
namespace monitor {

namespace {

unsigned long ParseNumber(const std::string& option, const std::string& text, unsigned long low,
                          unsigned long high) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos || std::stoul(text) < low ||
      std::stoul(text) > high) {
    throw std::invalid_argument(option + " needs a whole number from " + std::to_string(low) +
                                " to " + std::to_string(high) + ", not '" + text + "'");
  }
  return std::stoul(text);
}

const std::set<std::string> kValued = {
    "--config", "--bind",          "--port",        "--max-connections", "--request-timeout",
    "--record", "--record-max-mb", "--record-keep", "--replay"};

}  // namespace

MonitorOptions MonitorOptions::parse(int argc, const char* const* argv) {
  MonitorOptions options;
  bool sized = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--ros-args") {
      break;
    }
    if (argument == "-h" || argument == "--help") {
      options.help = true;
      continue;
    }
    if (argument == "--no-http") {
      options.serve = false;
      continue;
    }
    if (kValued.count(argument) == 0) {
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
      options.server.port = static_cast<int>(ParseNumber(argument, value, 0, 65535));
    } else if (argument == "--max-connections") {
      options.server.max_connections = ParseNumber(argument, value, 1, 100000);
    } else if (argument == "--request-timeout") {
      options.server.request_timeout = std::chrono::seconds(ParseNumber(argument, value, 1, 3600));
    } else if (argument == "--record" || argument == "--replay") {
      if (value.empty()) {
        throw std::invalid_argument(argument + " needs a file");
      }
      (argument == "--record" ? options.record.path : options.replay_path) = value;
    } else if (argument == "--record-max-mb") {
      options.record.max_bytes = ParseNumber(argument, value, 1, 1000000) * 1024ULL * 1024ULL;
      sized = true;
    } else {
      options.record.keep = static_cast<unsigned>(ParseNumber(argument, value, 0, 1000));
      sized = true;
    }
  }
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
