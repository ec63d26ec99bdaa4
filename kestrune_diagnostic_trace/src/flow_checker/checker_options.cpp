#include "checker_options.hpp"

#include <stdexcept>

#include "program_options/command_line.hpp"

namespace kestrune {
namespace checker {

namespace {

constexpr unsigned long kLongestReorderMs = 60000;
constexpr unsigned long kDeepestQueue = 1000000;

}  // namespace

CheckerOptions CheckerOptions::parse(int argc, const char* const* argv) {
  CheckerOptions options;
  WalkOptions(argc, argv, {"--config", "--points-topic", "--reorder-ms", "--queue-depth"}, {},
              options.help, [&options](const std::string& option, const std::string& value) {
                if (option == "--config") {
                  options.config_path = value;
                } else if (option == "--points-topic") {
                  if (value.empty()) {
                    throw std::invalid_argument("--points-topic needs a topic name");
                  }
                  options.points_topic = value;
                } else if (option == "--reorder-ms") {
                  options.reorder_window = std::chrono::milliseconds(
                      ParseWholeNumber(option, value, 0, kLongestReorderMs));
                } else {
                  options.queue_depth = ParseWholeNumber(option, value, 1, kDeepestQueue);
                }
              });
  if (!options.help && options.config_path.empty()) {
    throw std::invalid_argument("--config FILE is required: the flows to judge");
  }
  return options;
}

}  // namespace checker
}  // namespace kestrune
