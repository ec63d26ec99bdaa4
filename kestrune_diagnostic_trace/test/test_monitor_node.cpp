#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <kestrune_protocol/msg/diagnostic_event.hpp>
#include <rclcpp/rclcpp.hpp>

#include "flow_model.hpp"
#include "monitor_node.hpp"
#include "support/monitor.hpp"

namespace {

using kestrune::monitor::FlowModel;
using kestrune::monitor::MonitorNode;
using kestrune_protocol::msg::DiagnosticEvent;
using kestrune_test::FindFlow;
using kestrune_test::MonitorConfig;

class MonitorNodeTest : public ::testing::Test {
 protected:
  void SetUp() override { rclcpp::init(0, nullptr); }
  void TearDown() override { rclcpp::shutdown(); }
};

TEST_F(MonitorNodeTest, events_on_each_flows_topic_reach_the_model) {
  const auto config = MonitorConfig();
  FlowModel model(config);
  MonitorNode monitor(model, config);
  auto sender = std::make_shared<rclcpp::Node>("monitor_test_sender");
  auto pick = sender->create_publisher<DiagnosticEvent>("/test/monitor/pick", 10);
  auto dock = sender->create_publisher<DiagnosticEvent>("/test/monitor/dock", 10);

  DiagnosticEvent event;
  event.stamp.sec = 7;
  event.id = 12;
  event.status = 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool seen = false;
  // Publishing until heard covers the time discovery takes.
  while (!seen && std::chrono::steady_clock::now() < deadline) {
    event.source_id = "pick";
    event.msg = "Status Failed: look";
    pick->publish(event);
    event.source_id = "dock";
    event.msg = "Status Failed: latch";
    dock->publish(event);
    rclcpp::spin_some(monitor.node());
    const auto views = model.Changes(0).first;
    seen = !FindFlow(views, "pick").events.empty() && !FindFlow(views, "dock").events.empty();
    if (!seen) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ASSERT_TRUE(seen) << "no event reached the model within the deadline";
  const auto views = model.Changes(0).first;
  EXPECT_EQ(FindFlow(views, "pick").events.front().point_id, "look");
  EXPECT_EQ(FindFlow(views, "dock").events.front().point_id, "latch");
}

}  // namespace
