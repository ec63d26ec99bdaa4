// The other process of the cross-process tests: publishes sample events on a
// topic once a subscription has matched, then ends as told.
//
// Usage: rclcpp_standalone_test_peer <topic> <count> <source_id> <shutdown|return>
//                                    <match_timeout_ms>
// "shutdown" calls rclcpp::shutdown() before returning from main; "return" leaves
// the cleanup to static destruction. Exit status 0 when a subscription matched,
// 3 when none did within the timeout (the events are published all the same).
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include <rclcpp/rclcpp.hpp>
#include <rclcpp_standalone_test/msg/event.hpp>

#include "support/sample_events.hpp"
#include "support/wait.hpp"

namespace {

// A writer sees the match before the reader knows the writer; what is written
// in between is lost, so give discovery a moment to finish on both sides.
constexpr std::chrono::milliseconds kDiscoverySettle{200};
constexpr int kUnmatched = 3;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::cerr << "usage: " << argv[0]
              << " <topic> <count> <source_id> <shutdown|return> <match_timeout_ms>\n";
    return 2;
  }
  const std::string topic = argv[1];
  const int count = std::stoi(argv[2]);
  const std::string source_id = argv[3];
  const bool shutdown = std::string(argv[4]) == "shutdown";
  const std::chrono::milliseconds match_timeout(std::stoi(argv[5]));

  rclcpp::init(argc, argv);
  auto node = std::make_shared<rclcpp::Node>("test_peer");
  auto publisher =
      node->create_publisher<rclcpp_standalone_test::msg::Event>(topic, rclcpp::QoS(count));
  const bool matched = test_support::wait_until(
      [&] { return publisher->get_subscription_count() > 0; }, match_timeout);
  if (matched) {
    std::this_thread::sleep_for(kDiscoverySettle);
  }
  for (int index = 0; index < count; ++index) {
    publisher->publish(test_support::sample_event(source_id, index));
  }
  if (shutdown) {
    rclcpp::shutdown();
  }
  return matched ? 0 : kUnmatched;
}
