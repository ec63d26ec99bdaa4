#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <builtin_interfaces/msg/time.hpp>
#include <rclcpp/rclcpp.hpp>

namespace {

struct Sample {
  std::string text;
  int value{0};
};

class RclcppStandalone : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static const char* argv[] = {"test_rclcpp_standalone"};
    rclcpp::init(1, argv);
  }
};

template <typename Predicate>
bool spin_until(const std::shared_ptr<rclcpp::Node>& node, Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    rclcpp::spin_some(node);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST_F(RclcppStandalone, publisher_reaches_subscription_of_same_topic_on_spin_some) {
  auto node = std::make_shared<rclcpp::Node>("talker");
  EXPECT_STREQ(node->get_name(), "talker");
  auto publisher = node->create_publisher<Sample>("chatter", rclcpp::QoS(10));
  EXPECT_STREQ(publisher->get_topic_name(), "/chatter");

  std::vector<Sample> received;
  auto by_reference = node->create_subscription<Sample>(
      "/chatter", 10, [&](const Sample& sample) { received.push_back(sample); });
  std::vector<int> by_pointer;
  auto other = node->create_subscription<Sample>(
      "chatter", 10,
      [&](std::shared_ptr<const Sample> sample) { by_pointer.push_back(sample->value); });
  auto elsewhere = node->create_subscription<Sample>("other", 10, [&](const Sample&) { FAIL(); });

  publisher->publish(Sample{"hello", 1});
  publisher->publish(Sample{"world", 2});
  // Nothing runs before the node is spun.
  EXPECT_TRUE(received.empty());
  ASSERT_TRUE(spin_until(node, [&] { return received.size() == 2 && by_pointer.size() == 2; }));
  EXPECT_EQ(received[0].text, "hello");
  EXPECT_EQ(received[1].value, 2);
  EXPECT_EQ(by_pointer, (std::vector<int>{1, 2}));
}

TEST_F(RclcppStandalone, keep_last_history_drops_the_oldest) {
  auto node = std::make_shared<rclcpp::Node>("history");
  auto publisher = node->create_publisher<Sample>("history", 1);
  std::vector<int> values;
  auto subscription = node->create_subscription<Sample>(
      "history", 1, [&](const Sample& s) { values.push_back(s.value); });
  for (int i = 0; i < 5; ++i) {
    publisher->publish(Sample{"", i});
  }
  rclcpp::spin_some(node);
  EXPECT_EQ(values, std::vector<int>{4});
}

TEST_F(RclcppStandalone, dropped_subscription_receives_nothing) {
  auto node = std::make_shared<rclcpp::Node>("dropper");
  auto publisher = node->create_publisher<Sample>("dropped", 10);
  int calls = 0;
  auto subscription =
      node->create_subscription<Sample>("dropped", 10, [&](const Sample&) { ++calls; });
  subscription.reset();
  publisher->publish(Sample{});
  rclcpp::spin_some(node);
  EXPECT_EQ(calls, 0);
}

TEST_F(RclcppStandalone, system_clock_converts_to_builtin_time) {
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

// Last: shuts the context down for the rest of the process.
TEST_F(RclcppStandalone, zz_sigint_shuts_down_and_ends_spin) {
  auto node = std::make_shared<rclcpp::Node>("spinner");
  ASSERT_TRUE(rclcpp::ok());
  auto spinning = std::async(std::launch::async, [node] { rclcpp::spin(node); });
  std::raise(SIGINT);
  ASSERT_EQ(spinning.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(rclcpp::ok());
  EXPECT_FALSE(rclcpp::shutdown());

  // After shutdown a publication is dropped silently.
  int calls = 0;
  auto publisher = node->create_publisher<Sample>("late", 10);
  auto subscription =
      node->create_subscription<Sample>("late", 10, [&](const Sample&) { ++calls; });
  publisher->publish(Sample{});
  rclcpp::spin_some(node);
  EXPECT_EQ(calls, 0);
}

}  // namespace
