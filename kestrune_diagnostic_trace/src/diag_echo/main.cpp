// diag_echo: the standalone counterpart of `ros2 topic echo` for the tracer's
// diagnostic events and /diagnostics, built on the standalone rclcpp layer.
#include <cstdlib>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <utility>

#include <diagnostic_msgs/msg/diagnostic_array.hpp>
#include <kestrune_protocol/msg/diagnostic_event.hpp>
#include <rclcpp/rclcpp.hpp>

#include "echo_format.hpp"
#include "echo_options.hpp"
#include "topic_types.hpp"

namespace {

constexpr int kUsageError = 2;
// Deep enough that a burst of events waits in the reader instead of replacing
// events not printed yet.
constexpr size_t kQueueDepth = 1000;

/// Prints each MessageT arriving on `topic` in the form `format` gives it.
template <typename MessageT>
std::pair<std::shared_ptr<void>, std::string> Subscribe(
    rclcpp::Node& node, const std::string& topic,
    const std::function<void(const std::string&)>& print, std::string (*format)(const MessageT&)) {
  auto subscription = node.create_subscription<MessageT>(
      topic, rclcpp::QoS(kQueueDepth),
      [print, format](const MessageT& message) { print(format(message)); });
  const std::string expanded = subscription->get_topic_name();
  return {std::move(subscription), expanded};
}

}  // namespace

int main(int argc, char** argv) {
  using kestrune::diag_echo::array_json;
  using kestrune::diag_echo::array_yaml;
  using kestrune::diag_echo::EchoOptions;
  using kestrune::diag_echo::event_json;
  using kestrune::diag_echo::event_yaml;
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
    const bool json = options.format == EchoOptions::Format::kJson;
    // Messages taken in the same batch as the last one wanted are not printed.
    const std::function<void(const std::string&)> print = [&](const std::string& text) {
      if (options.count && printed == *options.count) {
        return;
      }
      std::cout << text << (json ? "\n" : "---\n") << std::flush;
      if (options.count && ++printed == *options.count) {
        rclcpp::shutdown();
      }
    };
    // The subscription, type-erased, and the topic as the node expanded it.
    std::pair<std::shared_ptr<void>, std::string> subscription;
    if (options.type == EchoOptions::Type::kDiagnostics) {
      subscription = Subscribe<diagnostic_msgs::msg::DiagnosticArray>(
          *node, options.topic, print, json ? array_json : array_yaml);
    } else {
      subscription = Subscribe<kestrune_protocol::msg::DiagnosticEvent>(
          *node, options.topic, print, json ? event_json : event_yaml);
    }
    kestrune::diag_echo::TopicTypeWatch watch(
        subscription.second, options.type,
        [](const std::string& problem) { std::cerr << "diag_echo: " << problem << std::endl; });
    rclcpp::spin(node);
    rclcpp::shutdown();
  } catch (const std::exception& error) {
    std::cerr << "diag_echo: " << error.what() << "\n";
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
