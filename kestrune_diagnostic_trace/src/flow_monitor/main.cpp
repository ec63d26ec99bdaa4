// flow_monitor: a live page of the robot's flows, fed from /diagnostics and
// the flows' event topics, served over HTTP.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <stdexcept>

#include <rclcpp/rclcpp.hpp>

#include "flow_model.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "monitor_config.hpp"
#include "monitor_node.hpp"
#include "monitor_options.hpp"
#include "monitor_server.hpp"

namespace {

/// A wrong command line, or a flow file that cannot be used at all.
constexpr int kUsageError = 2;

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

  kestrune::trace::ParsedFlowConfig config;
  try {
    config = kestrune::monitor::LoadMonitorConfig(options.config_path, std::cerr);
  } catch (const kestrune::monitor::ConfigFileError& error) {
    std::cerr << "flow_monitor: " << error.what();
    return kUsageError;
  }
  try {
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
