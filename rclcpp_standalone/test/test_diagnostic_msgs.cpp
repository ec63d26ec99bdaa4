#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <diagnostic_msgs/msg/diagnostic_array.hpp>
#include <rclcpp/rclcpp.hpp>

#include "support/loopback_domain.hpp"
#include "support/wait.hpp"

namespace {

using diagnostic_msgs::msg::DiagnosticArray;
using diagnostic_msgs::msg::DiagnosticStatus;
using diagnostic_msgs::msg::KeyValue;

// Nested sequences of every length that matters: none, one, many; and text
// that only survives when each string is carried by its own length.
DiagnosticArray sample_array() {
  DiagnosticArray array;
  array.header.stamp.sec = 1765000000;
  array.header.stamp.nanosec = 123456789;
  array.header.frame_id = "base_link";
  for (unsigned char level = DiagnosticStatus::OK; level <= DiagnosticStatus::STALE; ++level) {
    DiagnosticStatus status;
    status.level = level;
    status.name = "node: flow " + std::to_string(level);
    status.message = level == 0 ? "" : "message with ünïcode and \"quotes\"";
    status.hardware_id = "robot-" + std::to_string(level);
    for (unsigned char i = 0; i < level * 3; ++i) {
      status.values.push_back(KeyValue{"key " + std::to_string(i), std::string(i * 10, 'v')});
    }
    array.status.push_back(status);
  }
  return array;
}

TEST(DiagnosticMsgs, an_array_with_nested_sequences_arrives_intact_and_an_empty_one_stays_empty) {
  test_support::use_loopback_domain();
  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("diagnostic_msgs_test");
  auto publisher = node->create_publisher<DiagnosticArray>("/diagnostics", rclcpp::QoS(10));
  std::vector<DiagnosticArray> received;
  auto subscription = node->create_subscription<DiagnosticArray>(
      "/diagnostics", 10, [&](const DiagnosticArray& array) { received.push_back(array); });

  publisher->publish(sample_array());
  publisher->publish(DiagnosticArray{});
  ASSERT_TRUE(test_support::spin_until(node, [&] { return received.size() == 2; }));
  EXPECT_EQ(received[0], sample_array());
  EXPECT_EQ(received[1], DiagnosticArray{});
  rclcpp::shutdown();
}

}  // namespace
