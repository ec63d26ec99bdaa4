#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <builtin_interfaces/msg/time.hpp>
#include <rclcpp/rclcpp.hpp>
#include <rclcpp_standalone_test/msg/event.hpp>

#include "support/loopback_domain.hpp"
#include "support/sample_events.hpp"
#include "support/wait.hpp"

namespace {

using rclcpp_standalone_test::msg::Event;
using test_support::sample_event;
using test_support::spin_until;

class RclcppStandalone : public ::testing::Test {
 protected:
  void SetUp() override {
    domain_id_ = test_support::use_loopback_domain();
    rclcpp::init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>("test_node");
  }
  void TearDown() override { rclcpp::shutdown(); }

  uint32_t domain_id_{0};
  std::shared_ptr<rclcpp::Node> node_;
};

TEST_F(RclcppStandalone, same_process_publisher_reaches_subscriptions_of_its_topic_on_spin_some) {
  EXPECT_STREQ(node_->get_name(), "test_node");
  auto publisher = node_->create_publisher<Event>("chatter", rclcpp::QoS(10));
  EXPECT_STREQ(publisher->get_topic_name(), "/chatter");

  std::vector<Event> by_reference;
  auto first = node_->create_subscription<Event>(
      "/chatter", 10, [&](const Event& event) { by_reference.push_back(event); });
  std::vector<int32_t> by_pointer;
  auto second = node_->create_subscription<Event>(
      "chatter", 10, [&](std::shared_ptr<Event> event) { by_pointer.push_back(event->id); });
  auto elsewhere = node_->create_subscription<Event>("other", 10, [&](const Event&) { FAIL(); });

  publisher->publish(sample_event("local", 0));
  publisher->publish(sample_event("local", 1));
  // Nothing runs before the node is spun.
  EXPECT_TRUE(by_reference.empty());
  ASSERT_TRUE(
      spin_until(node_, [&] { return by_reference.size() == 2 && by_pointer.size() == 2; }));
  EXPECT_EQ(by_reference[0], sample_event("local", 0));
  EXPECT_EQ(by_reference[1], sample_event("local", 1));
  EXPECT_EQ(by_pointer, (std::vector<int32_t>{sample_event("", 0).id, sample_event("", 1).id}));
}

TEST_F(RclcppStandalone, keep_last_history_drops_the_oldest_unspun_message) {
  auto publisher = node_->create_publisher<Event>("history", 1);
  std::vector<int32_t> ids;
  auto subscription = node_->create_subscription<Event>(
      "history", 1, [&](const Event& event) { ids.push_back(event.id); });
  for (int32_t id = 1; id <= 5; ++id) {
    Event event;
    event.id = id;
    publisher->publish(event);
  }
  ASSERT_TRUE(spin_until(node_, [&] { return !ids.empty(); }));
  EXPECT_EQ(ids, std::vector<int32_t>{5});
}

TEST_F(RclcppStandalone, dropped_subscription_receives_nothing) {
  auto publisher = node_->create_publisher<Event>("dropped", 10);
  int calls = 0;
  auto subscription =
      node_->create_subscription<Event>("dropped", 10, [&](const Event&) { ++calls; });
  subscription.reset();
  publisher->publish(Event{});
  rclcpp::spin_some(node_);
  EXPECT_EQ(calls, 0);
}

// What a ROS 2 node with rmw_cyclonedds_cpp sees: topic "rt/<name>", type
// "<package>::msg::dds_::<Message>_", rclcpp's default QoS.
TEST_F(RclcppStandalone, topics_travel_under_ros2_dds_names_and_qos) {
  using Support = rclcpp::detail::DdsTypeSupport<Event>;
  EXPECT_STREQ(Support::descriptor().m_typename, "rclcpp_standalone_test::msg::dds_::Event_");

  // A plain Cyclone participant stands in for the ROS 2 node.
  const dds_entity_t participant = dds_create_participant(domain_id_, nullptr, nullptr);
  ASSERT_GT(participant, 0);
  const dds_entity_t topic =
      dds_create_topic(participant, &Support::descriptor(), "rt/wire", nullptr, nullptr);
  ASSERT_GT(topic, 0);
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
  const dds_entity_t reader = dds_create_reader(participant, topic, qos, nullptr);
  const dds_entity_t writer = dds_create_writer(participant, topic, qos, nullptr);
  dds_delete_qos(qos);
  ASSERT_GT(reader, 0);
  ASSERT_GT(writer, 0);

  auto publisher = node_->create_publisher<Event>("wire", 7);
  std::vector<Event> received;
  auto subscription = node_->create_subscription<Event>(
      "/wire", 7, [&](const Event& event) { received.push_back(event); });

  // Ours to theirs, with the writer's QoS as discovery announces it.
  dds_instance_handle_t matched[4];
  ASSERT_TRUE(test_support::wait_until(
      [&] { return dds_get_matched_publications(reader, matched, 4) == 2; }));
  bool found_ours = false;
  for (const dds_instance_handle_t handle : {matched[0], matched[1]}) {
    dds_builtintopic_endpoint_t* endpoint = dds_get_matched_publication_data(reader, handle);
    ASSERT_NE(endpoint, nullptr);
    dds_history_kind_t history = DDS_HISTORY_KEEP_ALL;
    int32_t depth = 0;
    if (dds_qget_history(endpoint->qos, &history, &depth) && depth == 7) {
      found_ours = true;
      EXPECT_EQ(history, DDS_HISTORY_KEEP_LAST);
      dds_reliability_kind_t reliability = DDS_RELIABILITY_BEST_EFFORT;
      dds_duration_t blocking = 0;
      ASSERT_TRUE(dds_qget_reliability(endpoint->qos, &reliability, &blocking));
      EXPECT_EQ(reliability, DDS_RELIABILITY_RELIABLE);
      dds_durability_kind_t durability = DDS_DURABILITY_TRANSIENT_LOCAL;
      ASSERT_TRUE(dds_qget_durability(endpoint->qos, &durability));
      EXPECT_EQ(durability, DDS_DURABILITY_VOLATILE);
      bool autodispose = true;
      ASSERT_TRUE(dds_qget_writer_data_lifecycle(endpoint->qos, &autodispose));
      EXPECT_FALSE(autodispose);
    }
    dds_builtintopic_free_endpoint(endpoint);
  }
  EXPECT_TRUE(found_ours);

  const Event ours = sample_event("ours", 3);
  publisher->publish(ours);
  void* samples[1] = {nullptr};
  dds_sample_info_t info;
  ASSERT_TRUE(test_support::wait_until(
      [&] { return dds_take(reader, samples, &info, 1, 1) == 1 && info.valid_data; }));
  Event taken;
  Support::from_dds(*static_cast<const Support::DdsType*>(samples[0]), taken);
  dds_return_loan(reader, samples, 1);
  EXPECT_EQ(taken, ours);

  // Theirs to ours.
  const Event theirs = sample_event("theirs", 4);
  Support::DdsType sample{};
  Support::to_dds(theirs, sample);
  ASSERT_EQ(dds_write(writer, &sample), DDS_RETCODE_OK);
  ASSERT_TRUE(spin_until(
      node_, [&] { return !received.empty() && received.back().source_id == "theirs"; }));
  EXPECT_EQ(received.back(), theirs);
  dds_delete(participant);
}

TEST_F(RclcppStandalone, invalid_topic_name_throws_from_create_publisher_and_subscription) {
  for (const std::string name : {"", "diag/", "1diag", "di ag", "a//b", "{unknown}"}) {
    EXPECT_THROW(node_->create_publisher<Event>(name, 1), rclcpp::exceptions::InvalidTopicNameError)
        << name;
    EXPECT_THROW(node_->create_subscription<Event>(name, 1, [](const Event&) {}),
                 std::invalid_argument)
        << name;
  }
}

TEST_F(RclcppStandalone, nodes_live_in_their_namespace_and_the_command_line_remaps_them) {
  EXPECT_STREQ(node_->get_namespace(), "/");
  EXPECT_STREQ(node_->get_fully_qualified_name(), "/test_node");
  rclcpp::Node robot("checker", "robot1");
  EXPECT_STREQ(robot.get_namespace(), "/robot1");
  EXPECT_STREQ(robot.get_fully_qualified_name(), "/robot1/checker");
  EXPECT_STREQ(robot.create_publisher<Event>("kestrune/points", 1)->get_topic_name(),
               "/robot1/kestrune/points");
  EXPECT_STREQ(robot.create_publisher<Event>("/diagnostics", 1)->get_topic_name(), "/diagnostics");
  EXPECT_THROW(rclcpp::Node("bad-name"), rclcpp::exceptions::InvalidNodeNameError);
  EXPECT_THROW(rclcpp::Node("node", "/a//b"), rclcpp::exceptions::InvalidNamespaceError);

  rclcpp::shutdown();
  const char* argv[] = {"program", "--ros-args",      "-r", "__ns:=/robot2",
                        "-r",      "__node:=renamed", "-r", "points:=moved"};
  rclcpp::init(8, argv);
  rclcpp::Node remapped("checker", "robot1");
  EXPECT_STREQ(remapped.get_fully_qualified_name(), "/robot2/renamed");
  EXPECT_STREQ(remapped.create_publisher<Event>("points", 1)->get_topic_name(), "/robot2/moved");
  EXPECT_STREQ(
      remapped.create_subscription<Event>("other", 1, [](const Event&) {})->get_topic_name(),
      "/robot2/other");
}

// The checker tells senders apart by their writer, as rmw_cyclonedds_cpp gives it.
TEST_F(RclcppStandalone, message_info_carries_a_publisher_gid_per_writer) {
  auto first = node_->create_publisher<Event>("gid", 10);
  auto second = node_->create_publisher<Event>("gid", 10);
  std::vector<std::pair<int32_t, std::string>> received;
  auto subscription = node_->create_subscription<Event>(
      "gid", 10, [&](const Event& event, const rclcpp::MessageInfo& info) {
        const rmw_gid_t& gid = info.get_rmw_message_info().publisher_gid;
        EXPECT_STREQ(gid.implementation_identifier, "rmw_cyclonedds_cpp");
        received.emplace_back(event.id, std::string(gid.data, gid.data + RMW_GID_STORAGE_SIZE));
      });
  int by_pointer = 0;
  auto pointer = node_->create_subscription<Event>(
      "gid", 10, [&](std::shared_ptr<const Event>, const rclcpp::MessageInfo&) { ++by_pointer; });
  for (int32_t id : {1, 2, 3}) {
    Event event;
    event.id = id;
    (id == 2 ? second : first)->publish(event);
  }
  ASSERT_TRUE(spin_until(node_, [&] { return received.size() == 3 && by_pointer == 3; }));
  std::map<int32_t, std::string> gids(received.begin(), received.end());
  EXPECT_EQ(gids[1], gids[3]);
  EXPECT_NE(gids[1], gids[2]);
  EXPECT_NE(gids[1], std::string(RMW_GID_STORAGE_SIZE, '\0'));
}

TEST_F(RclcppStandalone, spin_wakes_for_data_and_returns_on_shutdown) {
  auto publisher = node_->create_publisher<Event>("spin", 10);
  std::promise<int32_t> delivered;
  auto subscription = node_->create_subscription<Event>(
      "spin", 10, [&](const Event& event) { delivered.set_value(event.id); });
  auto spinning = std::async(std::launch::async, [this] { rclcpp::spin(node_); });

  Event event;
  event.id = 42;
  publisher->publish(event);
  auto id = delivered.get_future();
  ASSERT_EQ(id.wait_for(test_support::kDeadline), std::future_status::ready);
  EXPECT_EQ(id.get(), 42);

  EXPECT_TRUE(rclcpp::shutdown());
  ASSERT_EQ(spinning.wait_for(test_support::kDeadline), std::future_status::ready);
}

TEST_F(RclcppStandalone, sigint_shuts_down_ends_spin_and_later_publications_are_dropped) {
  auto publisher = node_->create_publisher<Event>("late", 10);
  auto spinning = std::async(std::launch::async, [this] { rclcpp::spin(node_); });
  std::raise(SIGINT);
  ASSERT_EQ(spinning.wait_for(test_support::kDeadline), std::future_status::ready);
  EXPECT_FALSE(rclcpp::ok());
  EXPECT_FALSE(rclcpp::shutdown());

  EXPECT_NO_THROW(publisher->publish(Event{}));
  EXPECT_EQ(publisher->get_subscription_count(), 0u);
  // As in rclcpp, the shut-down context creates nothing more.
  EXPECT_THROW(node_->create_publisher<Event>("later", 1), std::runtime_error);
  EXPECT_THROW(rclcpp::Node("too_late"), std::runtime_error);
}

TEST_F(RclcppStandalone, init_refuses_an_invalid_domain_id_and_a_new_session_starts_afresh) {
  rclcpp::shutdown();
  setenv("ROS_DOMAIN_ID", "7abc", 1);
  try {
    rclcpp::init(0, nullptr);
    FAIL() << "init accepted ROS_DOMAIN_ID=7abc";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("ROS_DOMAIN_ID"), std::string::npos) << error.what();
  }
  EXPECT_FALSE(rclcpp::ok());

  // After a shutdown the next session gets a participant of its own.
  test_support::use_loopback_domain();
  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("second_session");
  auto publisher = node->create_publisher<Event>("again", 1);
  int32_t id = 0;
  auto subscription =
      node->create_subscription<Event>("again", 1, [&](const Event& event) { id = event.id; });
  Event event;
  event.id = 9;
  publisher->publish(event);
  EXPECT_TRUE(spin_until(node, [&] { return id == 9; }));
}

TEST(Clock, system_clock_converts_to_builtin_time) {
  const auto before = std::chrono::system_clock::now();
  builtin_interfaces::msg::Time stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
  const auto after = std::chrono::system_clock::now();
  const auto as_ns = std::chrono::seconds(stamp.sec) + std::chrono::nanoseconds(stamp.nanosec);
  EXPECT_GE(as_ns, before.time_since_epoch() - std::chrono::nanoseconds(1));
  EXPECT_LE(as_ns, after.time_since_epoch());
  EXPECT_LT(stamp.nanosec, 1000000000u);

  builtin_interfaces::msg::Time negative = rclcpp::Time(-1500000000);
  EXPECT_EQ(negative.sec, -2);
  EXPECT_EQ(negative.nanosec, 500000000u);
}

}  // namespace
