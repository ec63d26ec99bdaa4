// PointSender and the engine's remote flows, read back by a subscriber in this process.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <kestrune_diagnostic_trace/point_sender.hpp>
#include <rclcpp/rclcpp.hpp>

#include "support/engine.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::FlowCheckStatus;
using kestrune::trace::FlowPoint;
using kestrune::trace::PointSender;
using kestrune_test::Engine;

class PointSenderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rclcpp::init(0, nullptr); }
  static void TearDownTestSuite() { rclcpp::shutdown(); }

  void SetUp() override {
    node_ = std::make_shared<rclcpp::Node>("sender", "robot");
    subscription_ = node_->create_subscription<FlowPoint>(
        "kestrune/points", 10000, [this](const FlowPoint& point) { received_.push_back(point); });
  }

  bool SpinUntil(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (received_.size() < count && std::chrono::steady_clock::now() < deadline) {
      rclcpp::spin_some(node_);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return received_.size() >= count;
  }

  std::shared_ptr<rclcpp::Node> node_;
  std::shared_ptr<void> subscription_;
  std::vector<FlowPoint> received_;
};

TEST_F(PointSenderTest, threads_share_one_numbering_in_order_and_requests_never_go_back_in_time) {
  PointSender sender(*node_);
  EXPECT_STREQ(sender.topic(), "/robot/kestrune/points");
  constexpr int kEach = 500;
  std::vector<std::thread> threads;
  for (const char* flow : {"x", "y"}) {
    threads.emplace_back([&sender, flow] {
      for (int i = 0; i < kEach; ++i) {
        sender.Trace(flow, "p" + std::to_string(i), i % 2 == 0, {{"i", std::to_string(i)}});
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  // A prepared point keeps its own stamp; the request after it is not stamped before it.
  kestrune::trace::TracePoint future("late", true);
  future.timestamp_ms += 60000;
  sender.Trace("x", future);
  sender.CheckFlow("x");
  sender.ResetFlow("y");
  ASSERT_TRUE(SpinUntil(2 * kEach + 3));

  for (size_t i = 0; i < received_.size(); ++i) {
    EXPECT_EQ(received_[i].sequence, i + 1);
    EXPECT_EQ(received_[i].source, "/robot/sender");
  }
  const FlowPoint& point = received_[7];
  EXPECT_EQ(point.kind, FlowPoint::POINT);
  ASSERT_EQ(point.metadata.size(), 1u);
  EXPECT_EQ(point.point_id, "p" + point.metadata[0].value);
  EXPECT_EQ(point.success, std::stoi(point.metadata[0].value) % 2 == 0);
  const FlowPoint& check = received_[2 * kEach + 1];
  EXPECT_EQ(check.kind, FlowPoint::CHECK);
  EXPECT_EQ(check.stamp, received_[2 * kEach].stamp);
  EXPECT_EQ(received_[2 * kEach].stamp.sec, future.timestamp_ms / 1000);
  EXPECT_EQ(received_.back().kind, FlowPoint::RESET);
  EXPECT_EQ(received_.back().flow_id, "y");
}

TEST_F(PointSenderTest, a_remote_flow_sends_what_trace_check_and_reset_ask_and_records_nothing) {
  kestrune_test::TempFile file(R"(
points_topic: kestrune/points
workflows:
  - {flow_id: remote_pick, remote: true, flow_points: [{point_id: a}]}
  - {flow_id: local, flow_points: [{point_id: a}]}
)");
  Engine()->Init(file.path(), node_);
  EXPECT_EQ(Engine()->GetTraceFlows(), (std::set<std::string>{"local", "remote_pick"}));
  ASSERT_TRUE(Engine()->GetTraceFlowCfg("remote_pick"));
  Engine()->Trace("remote_pick", "a", false, {{"part", "7"}});
  Engine()->Trace("local", "a", true);
  EXPECT_EQ(Engine()->CheckFlow("remote_pick")->status, FlowCheckStatus::INVALID_FLOW);
  Engine()->ResetFlow("remote_pick");
  EXPECT_TRUE(Engine()->GetTracePoints("remote_pick").empty());
  EXPECT_EQ(Engine()->GetTracePoints("local").size(), 1u);
  Engine()->ResetAllFlows();
  // A handle and a prepared point take the same way.
  Engine()->Point("remote_pick", "b").Trace(true);
  Engine()->Trace("remote_pick", std::make_shared<kestrune::trace::TracePoint>("c", true));
  ASSERT_TRUE(SpinUntil(6));
  EXPECT_EQ(received_[0].point_id, "a");
  EXPECT_FALSE(received_[0].success);
  ASSERT_EQ(received_[0].metadata.size(), 1u);
  EXPECT_EQ(received_[0].metadata[0].key, "part");
  EXPECT_EQ(received_[1].kind, FlowPoint::CHECK);
  EXPECT_EQ(received_[2].kind, FlowPoint::RESET);
  EXPECT_EQ(received_[3].kind, FlowPoint::RESET);
  EXPECT_EQ(received_[4].point_id, "b");
  EXPECT_EQ(received_[5].point_id, "c");
  EXPECT_EQ(received_.size(), 6u);

  // Without a node nothing can send: the flow is judged here.
  kestrune::trace::PublishCallback none;
  Engine()->Init(file.path(), none);
  Engine()->Trace("remote_pick", "a", true);
  EXPECT_EQ(Engine()->GetTracePoints("remote_pick").size(), 1u);
}

}  // namespace
