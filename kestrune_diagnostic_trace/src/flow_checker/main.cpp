// flow_checker: judges flows whose points are sent from other nodes and
// processes, with the engine fed from a subscription.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

#include <rclcpp/rclcpp.hpp>

#include "checker_node.hpp"
#include "checker_options.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "lint_report.hpp"

namespace {

constexpr int kUsageError = 2;

/// The flow file, read as every program of the package reads it. What the
/// engine drops is said on stderr; nothing when there is no flow to judge.
std::optional<kestrune::trace::ParsedFlowConfig> LoadConfig(const std::string& path) {
  const kestrune::trace::FlowConfigText file = kestrune::trace::ReadFlowConfigFile(path);
  if (file.error) {
    std::cerr << kestrune::flow_tool::FormatText({{path, {*file.error}}});
    return std::nullopt;
  }
  kestrune::trace::ParsedFlowConfig config = kestrune::trace::ParseFlowConfig(file.text);
  std::cerr << kestrune::flow_tool::FormatText({{path, config.findings}});
  if (config.flows.empty()) {
    std::cerr << "flow_checker: no flows to judge in '" << path << "'\n";
    return std::nullopt;
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

  const auto config = LoadConfig(options.config_path);
  if (!config) {
    return EXIT_FAILURE;
  }
  try {
    rclcpp::init(argc, argv);
    {
      kestrune::checker::CheckerNode checker(options, *config);
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
