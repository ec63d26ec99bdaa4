#include "checker_options.hpp"

#include <stdexcept>

#include "program_options/whole_number.hpp"

namespace kestrune {
namespace checker {

namespace {

constexpr unsigned long kLongestReorderMs = 60000;
constexpr unsigned long kDeepestQueue = 1000000;

}  // namespace

CheckerOptions CheckerOptions::parse(int argc, const char* const* argv) {
  CheckerOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--ros-args") {
      break;
    }
    if (argument == "-h" || argument == "--help") {
      options.help = true;
      return options;
    }
    if (argument != "--config" && argument != "--points-topic" && argument != "--reorder-ms" &&
        argument != "--queue-depth") {
      throw std::invalid_argument("unknown argument '" + argument + "'");
    }
    if (i + 1 >= argc) {
      throw std::invalid_argument(argument + " needs a value");
    }
    const std::string value = argv[++i];
    if (argument == "--config") {
      options.config_path = value;
    } else if (argument == "--points-topic") {
      if (value.empty()) {
        throw std::invalid_argument("--points-topic needs a topic name");
      }
      options.points_topic = value;
    } else if (argument == "--reorder-ms") {
      options.reorder_window =
          std::chrono::milliseconds(ParseWholeNumber(argument, value, 0, kLongestReorderMs));
    } else {
      options.queue_depth = ParseWholeNumber(argument, value, 1, kDeepestQueue);
    }
  }
  if (options.config_path.empty()) {
    throw std::invalid_argument("--config FILE is required: the flows to judge");
  }
  return options;
}

}  // namespace checker
}  // namespace kestrune
