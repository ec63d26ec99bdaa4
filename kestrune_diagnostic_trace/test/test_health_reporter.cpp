// The health reporter seen from another process: what a /diagnostics
// subscriber receives from a node, when, and how that node exits.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <diagnostic_msgs/msg/diagnostic_array.hpp>
#include <rclcpp/rclcpp.hpp>

#include "kestrune_test/child_process.hpp"
#include "support/temp_file.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using diagnostic_msgs::msg::DiagnosticArray;
using diagnostic_msgs::msg::DiagnosticStatus;

// A long period: an array within a second of a change can only be the change's own.
constexpr char kConfig[] = R"(
diagnostics: {enabled: true, period_ms: 4000}
workflows:
  - flow_id: pick
    diag_topic: /health_probe/pick
    flow_points:
      - {point_id: a, event_id: 11}
      - {point_id: b, event_id: 12}
  - flow_id: place
    diag_topic: /health_probe/place
    flow_points:
      - {point_id: p, event_id: 21}
)";

struct Received {
  DiagnosticArray array;
  Clock::time_point at;
};

const DiagnosticStatus* StatusOf(const DiagnosticArray& array, const std::string& name) {
  for (const auto& status : array.status) {
    if (status.name == name) {
      return &status;
    }
  }
  return nullptr;
}

class HealthReporterAcrossProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    rclcpp::init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>("health_subscriber");
    subscription_ = node_->create_subscription<DiagnosticArray>(
        "/diagnostics", 10, [this](const DiagnosticArray& array) {
          // Other test programs on the domain publish arrays of their own.
          if (!array.status.empty() && array.status[0].name.rfind("health_probe: ", 0) == 0) {
            received_.push_back({array, Clock::now()});
          }
        });
  }
  void TearDown() override {
    subscription_.reset();
    rclcpp::shutdown();
  }

  /// Spins until `count` arrays have come, or the deadline passes.
  bool WaitForArrays(size_t count, std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (received_.size() < count && Clock::now() < deadline) {
      rclcpp::spin_some(node_);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return received_.size() >= count;
  }

  std::shared_ptr<rclcpp::Node> node_;
  std::shared_ptr<rclcpp::Subscription<DiagnosticArray>> subscription_;
  std::vector<Received> received_;
};

TEST_F(HealthReporterAcrossProcesses,
       arrays_arrive_intact_at_once_on_a_level_change_and_exit_is_prompt) {
  kestrune_test::TempFile config(kConfig);
  kestrune_test::ChildProcess probe({KESTRUNE_HEALTH_PROBE, config.path()});
  ASSERT_TRUE(WaitForArrays(1, std::chrono::seconds(15))) << probe.output();

  // Every field as the node wrote it, the stamp being the time of sending.
  const DiagnosticArray& first = received_.front().array;
  ASSERT_EQ(first.status.size(), 2u);
  const DiagnosticStatus* pick = StatusOf(first, "health_probe: pick");
  ASSERT_NE(pick, nullptr);
  EXPECT_EQ(pick->level, DiagnosticStatus::OK);
  EXPECT_EQ(pick->hardware_id, "health_probe");
  EXPECT_EQ(pick->message, "waiting for first run");
  ASSERT_GE(pick->values.size(), 12u);
  EXPECT_EQ(pick->values[0].key, "flow id");
  EXPECT_EQ(pick->values[0].value, "pick");
  EXPECT_NE(StatusOf(first, "health_probe: place"), nullptr);
  const auto stamp =
      std::chrono::system_clock::time_point(std::chrono::seconds(first.header.stamp.sec) +
                                            std::chrono::nanoseconds(first.header.stamp.nanosec));
  EXPECT_LT(std::chrono::abs(std::chrono::system_clock::now() - stamp), std::chrono::seconds(5));

  // The failure is published at once, long before the next period is due.
  const size_t before = received_.size();
  const auto failed_at = Clock::now();
  probe.signal(SIGUSR1);
  ASSERT_TRUE(WaitForArrays(before + 1, std::chrono::seconds(3)))
      << "no array within 3 s of the change";
  const Received& change = received_.back();
  EXPECT_LT(change.at - failed_at, std::chrono::milliseconds(1500));
  pick = StatusOf(change.array, "health_probe: pick");
  ASSERT_NE(pick, nullptr);
  EXPECT_EQ(pick->level, DiagnosticStatus::ERROR);
  EXPECT_EQ(pick->message, "failed at 'a' (point failed)");

  // The reporter's thread sleeps between ticks; the program still ends at once.
  const auto interrupted_at = Clock::now();
  probe.interrupt();
  EXPECT_EQ(probe.wait_for_exit(std::chrono::milliseconds(3000)), 0) << probe.output();
  EXPECT_LT(Clock::now() - interrupted_at, std::chrono::milliseconds(1500));
}

}  // namespace
