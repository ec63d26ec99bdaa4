#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <diagnostic_msgs/msg/diagnostic_array.hpp>
#include <kestrune_protocol/msg/diagnostic_event.hpp>
#include <rclcpp/rclcpp.hpp>

#include "flow_model.hpp"
#include "monitor_node.hpp"
#include "support/diagnostics.hpp"
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

  /// Calls `publish` and spins the monitor until `heard` holds or 20 s pass;
  /// publishing until heard covers the time discovery takes.
  template <typename Publish, typename Heard>
  bool PublishUntil(MonitorNode& monitor, Publish publish, Heard heard) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      publish();
      rclcpp::spin_some(monitor.node());
      if (heard()) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
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
  const bool heard = PublishUntil(
      monitor,
      [&] {
        event.source_id = "pick";
        event.msg = "Status Failed: look";
        pick->publish(event);
        event.source_id = "dock";
        event.msg = "Status Failed: latch";
        dock->publish(event);
      },
      [&] {
        const auto views = model.Changes(0).first;
        return !FindFlow(views, "pick").events.empty() && !FindFlow(views, "dock").events.empty();
      });
  ASSERT_TRUE(heard) << "no event reached the model within the deadline";
  const auto views = model.Changes(0).first;
  EXPECT_EQ(FindFlow(views, "pick").events.front().point_id, "look");
  EXPECT_EQ(FindFlow(views, "dock").events.front().point_id, "latch");
}

TEST_F(MonitorNodeTest, statuses_on_diagnostics_from_any_node_reach_the_model) {
  const auto config = MonitorConfig();
  FlowModel model(config);
  MonitorNode monitor(model, config);
  auto sender = std::make_shared<rclcpp::Node>("arm");
  auto publisher =
      sender->create_publisher<diagnostic_msgs::msg::DiagnosticArray>("/diagnostics", 1);

  diagnostic_msgs::msg::DiagnosticArray array;
  diagnostic_msgs::msg::DiagnosticStatus status = kestrune_test::PickFailedStatus();
  array.status.push_back(status);
  // Another package's status on the same topic: not a flow.
  status.name = "battery";
  status.values.clear();
  array.status.push_back(status);

  const bool heard = PublishUntil(
      monitor, [&] { publisher->publish(array); },
      [&] { return FindFlow(model.Changes(0).first, "pick").level == "ERROR"; });
  ASSERT_TRUE(heard) << "no status reached the model within the deadline";
  const auto pick = FindFlow(model.Changes(0).first, "pick");
  EXPECT_EQ(pick.node, "arm");
  EXPECT_EQ(pick.message, "failed at 'grasp' (point failed)");
  EXPECT_EQ(model.FlowCount(), 2U);
  EXPECT_GE(model.Ignored(), 1U);
}

}  // namespace
