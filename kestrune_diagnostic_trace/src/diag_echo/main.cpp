// diag_echo: the standalone counterpart of `ros2 topic echo` for the tracer's
// diagnostic events, built on the standalone rclcpp layer.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>

#include <kestrune_protocol/msg/diagnostic_event.hpp>
#include <rclcpp/rclcpp.hpp>

#include "echo_options.hpp"
#include "event_yaml.hpp"

namespace {

constexpr int kUsageError = 2;
// Deep enough that a burst of events waits in the reader instead of replacing
// events not printed yet.
constexpr size_t kQueueDepth = 1000;

}  // namespace

int main(int argc, char** argv) {
  using kestrune::diag_echo::EchoOptions;
  EchoOptions options;
  try {
    options = EchoOptions::parse(argc, argv);
  } catch (const std::invalid_argument& error) {
    std::cerr << "diag_echo: " << error.what() << "\n" << EchoOptions::kUsage;
    return kUsageError;
  }
  if (options.help) {
    std::cout << EchoOptions::kUsage;
    return EXIT_SUCCESS;
  }
  if (options.domain) {
    setenv("ROS_DOMAIN_ID", options.domain->c_str(), 1);
  }

  try {
    rclcpp::init(argc, argv);
    auto node = std::make_shared<rclcpp::Node>("diag_echo");
    uint64_t printed = 0;
    auto subscription = node->create_subscription<kestrune_protocol::msg::DiagnosticEvent>(
        options.topic, rclcpp::QoS(kQueueDepth),
        [&](const kestrune_protocol::msg::DiagnosticEvent& event) {
          // Events taken in the same batch as the last one wanted are not printed.
          if (options.count && printed == *options.count) {
            return;
          }
          std::cout << kestrune::diag_echo::event_yaml(event) << "---" << std::endl;
          if (options.count && ++printed == *options.count) {
            rclcpp::shutdown();
          }
        });
    rclcpp::spin(node);
    rclcpp::shutdown();
  } catch (const std::exception& error) {
    std::cerr << "diag_echo: " << error.what() << "\n";
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
