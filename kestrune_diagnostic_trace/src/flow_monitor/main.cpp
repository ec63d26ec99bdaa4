// flow_monitor: a live page of the robot's flows, fed from /diagnostics and
// the flows' event topics, served over HTTP.
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include <rclcpp/rclcpp.hpp>

#include "flow_model.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "monitor_node.hpp"
#include "monitor_options.hpp"
#include "monitor_server.hpp"

namespace {

constexpr int kUsageError = 2;

kestrune::trace::ParsedFlowConfig LoadConfig(const std::string& path) {
  if (path.empty()) {
    return {};
  }
  std::ifstream file(path);
  std::stringstream text;
  if (file.is_open()) {
    text << file.rdbuf();
  }
  if (!file.is_open() || file.bad()) {
    throw std::runtime_error("cannot read the flow configuration '" + path + "'");
  }
  kestrune::trace::ParsedFlowConfig config = kestrune::trace::ParseFlowConfig(text.str());
  // The robot loads what parses and drops the rest: show the same, and say what was dropped.
  for (const auto& finding : config.findings) {
    std::cerr << "flow_monitor: " << path << ":" << finding.line << ":" << finding.column << ": "
              << finding.message << "\n";
  }
  return config;
}

}  // namespace

int main(int argc, char** argv) {
  using kestrune::monitor::MonitorOptions;
  MonitorOptions options;
  try {
    options = MonitorOptions::parse(argc, argv);
  } catch (const std::invalid_argument& error) {
    std::cerr << "flow_monitor: " << error.what() << "\n" << MonitorOptions::kUsage;
    return kUsageError;
  }
  if (options.help) {
    std::cout << MonitorOptions::kUsage;
    return EXIT_SUCCESS;
  }

  try {
    const kestrune::trace::ParsedFlowConfig config = LoadConfig(options.config_path);
    kestrune::monitor::FlowModel model(config);
    rclcpp::init(argc, argv);
    kestrune::monitor::MonitorNode node(model, config);
    kestrune::monitor::MonitorServer server(model, options.server);
    std::cout << "flow_monitor: serving http://" << options.server.bind << ":" << server.port()
              << "/ (" << config.flows.size() << " configured flows)" << std::endl;
    rclcpp::spin(node.node());
    server.Stop();
    rclcpp::shutdown();
  } catch (const std::exception& error) {
    std::cerr << "flow_monitor: " << error.what() << "\n";
    rclcpp::shutdown();
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
