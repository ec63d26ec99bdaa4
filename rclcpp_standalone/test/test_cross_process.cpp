#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>
#include <rclcpp_standalone_test/msg/event.hpp>

#include "kestrune_test/child_process.hpp"
#include "support/loopback_domain.hpp"
#include "support/sample_events.hpp"
#include "support/wait.hpp"

namespace {

using kestrune_test::ChildProcess;
using rclcpp_standalone_test::msg::Event;
using test_support::kDeadline;
using test_support::sample_event;

constexpr int kUnmatched = 3;

// The test process subscribes; peer programs publish.
class CrossProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    domain_id_ = test_support::use_loopback_domain();
    start_session();
  }
  void TearDown() override { rclcpp::shutdown(); }

  void start_session() {
    rclcpp::init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>("cross_process_test");
    received_.clear();
    subscription_ = node_->create_subscription<Event>(
        "events", kDepth, [this](const Event& event) { received_.push_back(event); });
  }

  /// Starts a peer publishing `count` events from `source` on "/events".
  static std::unique_ptr<ChildProcess> start_peer(const std::string& source, int count,
                                                  const std::string& exit_mode = "shutdown",
                                                  const std::vector<std::string>& env = {},
                                                  int match_timeout_ms = 10000) {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{RCLCPP_STANDALONE_TEST_PEER, "/events", std::to_string(count),
                                 source, exit_mode, std::to_string(match_timeout_ms)},
        env);
  }

  size_t count_from(const std::string& source) const {
    size_t count = 0;
    for (const auto& event : received_) {
      count += event.source_id == source ? 1 : 0;
    }
    return count;
  }

  static constexpr int kDepth = 500;
  uint32_t domain_id_{0};
  std::shared_ptr<rclcpp::Node> node_;
  std::shared_ptr<rclcpp::Subscription<Event>> subscription_;
  std::vector<Event> received_;
};

TEST_F(CrossProcess, events_arrive_from_another_process_with_every_field_intact) {
  auto peer = start_peer("peer", 20);
  ASSERT_TRUE(test_support::spin_until(node_, [&] { return received_.size() >= 20; }));
  EXPECT_EQ(peer->wait_for_exit(kDeadline), 0);
  ASSERT_EQ(received_.size(), 20u);
  for (int32_t index = 0; index < 20; ++index) {
    EXPECT_EQ(received_[index], sample_event("peer", index)) << "event " << index;
  }
}

TEST_F(CrossProcess, a_process_in_another_domain_is_never_heard) {
  auto stranger =
      start_peer("stranger", 5, "shutdown",
                 {"ROS_DOMAIN_ID=" + std::to_string(test_support::other_domain(domain_id_))}, 2000);
  auto neighbour = start_peer("neighbour", 5);
  ASSERT_TRUE(test_support::spin_until(node_, [&] { return count_from("neighbour") == 5; }));
  EXPECT_EQ(neighbour->wait_for_exit(kDeadline), 0);
  // The stranger never matched anyone, so what it published went nowhere.
  EXPECT_EQ(stranger->wait_for_exit(kDeadline), kUnmatched);
  rclcpp::spin_some(node_);
  EXPECT_EQ(count_from("stranger"), 0u);
}

TEST_F(CrossProcess, localhost_only_adds_the_loopback_interface_to_cyclonedds_uri) {
  rclcpp::shutdown();
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  // The localhost fragment already chooses 127.0.0.1; Cyclone refuses a second choice,
  // which shows the fragment is in force.
  rclcpp::init(0, nullptr);
  EXPECT_THROW(rclcpp::Node("twice"), std::runtime_error);
  rclcpp::shutdown();

  setenv("CYCLONEDDS_URI", test_support::kLoopbackConfigWithoutInterface.c_str(), 1);
  start_session();
  auto peer = start_peer("localhost", 3);
  ASSERT_TRUE(test_support::spin_until(node_, [&] { return count_from("localhost") == 3; }));
  EXPECT_EQ(peer->wait_for_exit(kDeadline), 0);
}

// The peer exits right after its last write: the participant's deletion must
// wait until the samples still unacknowledged have been delivered. A receive
// buffer smaller than the burst makes loopback drop packets, so the tail needs
// retransmissions that only a writer still alive can send.
TEST_F(CrossProcess, normal_exit_right_after_publishing_loses_nothing) {
  rclcpp::shutdown();
  std::string config = test_support::kLoopbackConfig;
  config.replace(config.find("</Domain>"), 0,
                 "<Internal><SocketReceiveBufferSize min=\"32kB\" max=\"32kB\"/></Internal>");
  setenv("CYCLONEDDS_URI", config.c_str(), 1);
  start_session();
  for (const std::string exit_mode : {"shutdown", "return"}) {
    received_.clear();
    const std::string source = "exit_by_" + exit_mode;
    auto peer = start_peer(source, 300, exit_mode);
    EXPECT_EQ(peer->wait_for_exit(kDeadline), 0) << exit_mode;
    ASSERT_TRUE(test_support::spin_until(node_, [&] { return count_from(source) == 300; }))
        << exit_mode << ": " << count_from(source) << " of 300 arrived";
    EXPECT_EQ(received_.back(), sample_event(source, 299)) << exit_mode;
  }
}

}  // namespace
