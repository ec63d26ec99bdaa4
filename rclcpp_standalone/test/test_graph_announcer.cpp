#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <rclcpp/rclcpp.hpp>
#include <rclcpp_standalone_test/msg/event.hpp>

#include "kestrune_test/child_process.hpp"
#include "support/graph_observer.hpp"
#include "support/loopback_domain.hpp"
#include "support/wait.hpp"

namespace {

using kestrune_test::ChildProcess;
using rclcpp_standalone_test::msg::Event;
using test_support::Gid;
using test_support::GraphObserver;
using test_support::kDeadline;
using test_support::NodeSnapshot;
using test_support::Snapshot;
using test_support::wait_until;

NodeSnapshot node(const std::string& name, std::vector<Gid> readers = {},
                  std::vector<Gid> writers = {}) {
  return NodeSnapshot{"/", name, std::move(readers), std::move(writers)};
}

// What ROS 2 tools learn about this process: its snapshots on ros_discovery_info,
// whose GIDs they match against the GUIDs of DDS discovery.
class GraphAnnouncer : public ::testing::Test {
 protected:
  void SetUp() override {
    domain_id_ = test_support::use_loopback_domain();
    rclcpp::init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>("graph_test");
    // After the node: the layer creates the process's domain, the observer joins it.
    observer_ = std::make_unique<GraphObserver>(domain_id_);
  }
  void TearDown() override {
    observer_.reset();
    rclcpp::shutdown();
  }

  /// Waits until the newest snapshot's nodes satisfy `holds`; reports the last one seen if not.
  template <typename Predicate>
  bool graph_reaches(Predicate holds) {
    const bool reached = wait_until([&] {
      for (auto& snapshot : observer_->take()) {
        latest_ = std::move(snapshot);
      }
      return latest_ && holds(latest_->nodes);
    });
    if (!reached) {
      ADD_FAILURE() << "last snapshot: "
                    << (latest_ ? ::testing::PrintToString(latest_->nodes) : "none");
    }
    return reached;
  }
  bool graph_becomes(const std::vector<NodeSnapshot>& expected) {
    return graph_reaches([&](const auto& nodes) { return nodes == expected; });
  }

  /// A publisher on "alpha" and a subscription on "beta", once announced.
  void add_alpha_and_beta() {
    publisher_ = node_->create_publisher<Event>("alpha", 10);
    subscription_ = node_->create_subscription<Event>("beta", 10, [](const Event&) {});
    alpha_ = writer_on("rt/alpha");
    beta_ = reader_on("rt/beta");
    ASSERT_TRUE(graph_becomes({node("graph_test", {beta_}, {alpha_})}));
  }

  /// The discovery GUID of the writer or reader on DDS topic `topic`, as a GID.
  Gid writer_on(const std::string& topic) {
    return discovered(topic, [&] { return observer_->writer_on(topic); });
  }
  Gid reader_on(const std::string& topic) {
    return discovered(topic, [&] { return observer_->reader_on(topic); });
  }

  template <typename Lookup>
  static Gid discovered(const std::string& topic, Lookup lookup) {
    std::optional<Gid> gid;
    if (!wait_until([&] { return (gid = lookup()).has_value(); })) {
      ADD_FAILURE() << "no endpoint on " << topic << " was discovered";
    }
    return gid.value_or(Gid{});
  }

  uint32_t domain_id_{0};
  std::shared_ptr<rclcpp::Node> node_;
  std::unique_ptr<GraphObserver> observer_;
  std::optional<Snapshot> latest_;
  std::shared_ptr<rclcpp::Publisher<Event>> publisher_;
  std::shared_ptr<rclcpp::Subscription<Event>> subscription_;
  Gid alpha_{};
  Gid beta_{};
};

TEST_F(GraphAnnouncer, the_participant_is_announced_by_its_discovery_guid_in_the_root_enclave) {
  ASSERT_TRUE(graph_becomes({node("graph_test")}));
  const Gid participant = latest_->participant;
  // Humble's GID: the 16-byte GUID, then zeros.
  EXPECT_TRUE(std::all_of(participant.begin() + 16, participant.end(),
                          [](uint8_t byte) { return byte == 0; }));
  std::optional<std::string> user_data;
  ASSERT_TRUE(wait_until([&] {
    return (user_data = observer_->participant_user_data(participant)).has_value();
  })) << "no participant with the announced GID was discovered";
  EXPECT_EQ(*user_data, "enclave=/;");
}

TEST_F(GraphAnnouncer, snapshots_follow_endpoints_and_nodes_as_they_come_and_go) {
  ASSERT_NO_FATAL_FAILURE(add_alpha_and_beta());

  auto second = std::make_shared<rclcpp::Node>("second");
  auto second_publisher = second->create_publisher<Event>("/gamma", 10);
  auto second_subscription = second->create_subscription<Event>("delta", 10, [](const Event&) {});
  const Gid gamma = writer_on("rt/gamma");
  const Gid delta = reader_on("rt/delta");
  ASSERT_TRUE(
      graph_becomes({node("graph_test", {beta_}, {alpha_}), node("second", {delta}, {gamma})}));

  // As in rclcpp, a node stays while any of its endpoints lives.
  second.reset();
  publisher_.reset();
  ASSERT_TRUE(graph_becomes({node("graph_test", {beta_}), node("second", {delta}, {gamma})}));
  second_publisher.reset();
  ASSERT_TRUE(graph_becomes({node("graph_test", {beta_}), node("second", {delta})}));
  second_subscription.reset();
  ASSERT_TRUE(graph_becomes({node("graph_test", {beta_})}));
  subscription_.reset();
  ASSERT_TRUE(graph_becomes({node("graph_test")}));
}

TEST_F(GraphAnnouncer, a_late_joiner_gets_the_current_snapshot_and_no_older_one) {
  ASSERT_NO_FATAL_FAILURE(add_alpha_and_beta());

  GraphObserver late(domain_id_);
  std::vector<Snapshot> received;
  ASSERT_TRUE(wait_until([&] { return !(received = late.take()).empty(); }));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].participant, latest_->participant);
  EXPECT_EQ(received[0].nodes, latest_->nodes);
}

// Each change and its snapshot are one step, so the last snapshot published is
// the current graph even when threads create and drop endpoints at once.
TEST_F(GraphAnnouncer, the_last_snapshot_is_the_current_graph_after_concurrent_changes) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 8;
  std::vector<std::vector<std::shared_ptr<rclcpp::Publisher<Event>>>> kept(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        auto publisher =
            node_->create_publisher<Event>("c" + std::to_string(t) + "_" + std::to_string(i), 1);
        if (i % 2 == 0) {
          kept[t].push_back(std::move(publisher));
        }
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  std::vector<Gid> expected;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; i += 2) {
      expected.push_back(writer_on("rt/c" + std::to_string(t) + "_" + std::to_string(i)));
    }
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_TRUE(graph_reaches([&](const std::vector<NodeSnapshot>& nodes) {
    if (nodes.size() != 1 || !nodes[0].readers.empty()) {
      return false;
    }
    auto writers = nodes[0].writers;
    std::sort(writers.begin(), writers.end());
    return writers == expected;
  }));
}

TEST_F(GraphAnnouncer, a_node_name_longer_than_the_graph_carries_is_refused_and_not_announced) {
  const std::string longest(256, 'n');
  auto accepted = std::make_shared<rclcpp::Node>(longest);
  try {
    rclcpp::Node refused(longest + "n");
    FAIL() << "a 257-byte node name was accepted";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("257 bytes"), std::string::npos) << error.what();
  }
  ASSERT_TRUE(graph_becomes({node("graph_test"), node(longest)}));
}

// A peer process announces its node and publisher, then withdraws its nodes
// before its participant goes, whether it shuts down or leaves that to exit.
TEST_F(GraphAnnouncer, a_process_withdraws_its_nodes_when_it_ends) {
  // The peer publishes once this subscription matched, so discovery is done by then.
  auto subscription = node_->create_subscription<Event>("/graph_events", 10, [](const Event&) {});
  for (const std::string exit_mode : {"shutdown", "return"}) {
    std::vector<Snapshot> seen;
    ChildProcess peer(
        {RCLCPP_STANDALONE_TEST_PEER, "/graph_events", "1", exit_mode, exit_mode, "10000"});
    // The peer is the participant whose snapshots list its node.
    std::optional<Gid> peer_gid;
    const auto peer_withdrew = [&] {
      for (auto& snapshot : observer_->take()) {
        seen.push_back(std::move(snapshot));
      }
      std::optional<Snapshot> last_of_peer;
      for (const auto& snapshot : seen) {
        if (snapshot.nodes.size() == 1 && snapshot.nodes[0].node_name == "test_peer" &&
            snapshot.nodes[0].writers.size() == 1) {
          peer_gid = snapshot.participant;
        }
        if (peer_gid && snapshot.participant == *peer_gid) {
          last_of_peer = snapshot;
        }
      }
      return last_of_peer && last_of_peer->nodes.empty();
    };
    EXPECT_EQ(peer.wait_for_exit(kDeadline), 0) << exit_mode;
    EXPECT_TRUE(wait_until(peer_withdrew))
        << exit_mode << ": " << seen.size() << " snapshots, peer "
        << (peer_gid ? "announced its publisher" : "never announced its publisher");
  }
}

}  // namespace
