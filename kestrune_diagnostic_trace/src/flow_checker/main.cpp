// flow_checker: judges flows whose points are sent from other nodes and
// processes, with the engine fed from a subscription.
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include <rclcpp/rclcpp.hpp>

#include "checker_node.hpp"
#include "checker_options.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"

namespace {

constexpr int kUsageError = 2;

kestrune::trace::ParsedFlowConfig LoadConfig(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  if (file.is_open()) {
    text << file.rdbuf();
  }
  if (!file.is_open() || file.bad()) {
    throw std::runtime_error("cannot read the flow file '" + path + "'");
  }
  kestrune::trace::ParsedFlowConfig config = kestrune::trace::ParseFlowConfig(text.str());
  // The engine loads what parses and drops the rest: say what was dropped.
  for (const auto& finding : config.findings) {
    std::cerr << "flow_checker: " << path << ":" << finding.line << ":" << finding.column << ": "
              << finding.message << "\n";
  }
  if (config.flows.empty()) {
    throw std::runtime_error("no flows to judge in '" + path + "'");
  }
  return config;
}

}  // namespace

int main(int argc, char** argv) {
  using kestrune::checker::CheckerOptions;
  CheckerOptions options;
  try {
    options = CheckerOptions::parse(argc, argv);
  } catch (const std::invalid_argument& error) {
    std::cerr << "flow_checker: " << error.what() << "\n" << CheckerOptions::kUsage;
    return kUsageError;
  }
  if (options.help) {
    std::cout << CheckerOptions::kUsage;
    return EXIT_SUCCESS;
  }

  try {
    const kestrune::trace::ParsedFlowConfig config = LoadConfig(options.config_path);
    rclcpp::init(argc, argv);
    {
      kestrune::checker::CheckerNode checker(options, config);
      std::cout << "flow_checker: judging " << checker.flow_count() << " flows from points on "
                << checker.points_topic() << std::endl;
      rclcpp::spin(checker.node());
    }
    rclcpp::shutdown();
  } catch (const std::exception& error) {
    std::cerr << "flow_checker: " << error.what() << "\n";
    rclcpp::shutdown();
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
