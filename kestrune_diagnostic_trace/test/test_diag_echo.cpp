#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <diagnostic_msgs/msg/diagnostic_array.hpp>
#include <kestrune_protocol/msg/diagnostic_event.hpp>
#include <rclcpp/rclcpp.hpp>

#include "kestrune_test/child_process.hpp"
#include "support/diagnostics.hpp"

namespace {

using kestrune_protocol::msg::DiagnosticEvent;
using kestrune_test::ChildProcess;

const std::string kDiagEcho = KESTRUNE_TEST_BINARY_DIR "/diag_echo";
const std::string kNoKind = "kind: 0\nverdict: 0\npoint_id: ''\nduration_ms: 0\n";
constexpr std::chrono::milliseconds kDeadline{10000};
constexpr int kUsageError = 2;

DiagnosticEvent event(int32_t sec, uint32_t nanosec, const std::string& source_id, int32_t id,
                      int32_t status, const std::string& msg) {
  DiagnosticEvent result;
  result.stamp.sec = sec;
  result.stamp.nanosec = nanosec;
  result.source_id = source_id;
  result.id = id;
  result.status = status;
  result.msg = msg;
  return result;
}

class DiagEcho : public ::testing::Test {
 protected:
  void SetUp() override {
    rclcpp::init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>("diag_echo_test");
    publisher_ = node_->create_publisher<DiagnosticEvent>("diag_echo_test", rclcpp::QoS(10));
  }
  void TearDown() override { rclcpp::shutdown(); }

  /// Waits until the echo tool's subscription has matched, then lets discovery
  /// finish on its side too: what is written before it knows the writer is lost.
  bool listener_matched(std::chrono::milliseconds timeout = kDeadline) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (publisher_->get_subscription_count() == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return true;
  }

  static std::string domain_id() {
    const char* value = std::getenv("ROS_DOMAIN_ID");
    return value == nullptr || *value == '\0' ? "0" : value;
  }

  std::shared_ptr<rclcpp::Node> node_;
  std::shared_ptr<rclcpp::Publisher<DiagnosticEvent>> publisher_;
};

TEST_F(DiagEcho, prints_each_event_as_a_yaml_block_and_exits_after_count) {
  ChildProcess echo({kDiagEcho, "diag_echo_test", "--count", "3"});
  ASSERT_TRUE(listener_matched());
  publisher_->publish(
      event(1700000000, 123456789, "grab_place_task", 1001, 0, "Status OK: home_pos_reached"));
  publisher_->publish(
      event(-1, 0, "it's", std::numeric_limits<int32_t>::min(), 1, "line one\nline \"two\"\t\\"));
  auto verdict = event(std::numeric_limits<int32_t>::max(), 999999999,
                       "\xc3\xbcnic\xc3\xb8"
                       "de",
                       std::numeric_limits<int32_t>::max(), 1, "");
  verdict.kind = DiagnosticEvent::KIND_VERDICT;
  verdict.verdict = 4;
  verdict.point_id = "b";
  verdict.duration_ms = std::numeric_limits<uint64_t>::max();
  publisher_->publish(verdict);
  publisher_->publish(event(4, 4, "beyond_count", 4, 0, "not printed"));

  ASSERT_EQ(echo.wait_for_exit(kDeadline), 0) << echo.output();
  EXPECT_EQ(echo.output(),
            "stamp:\n  sec: 1700000000\n  nanosec: 123456789\nsource_id: 'grab_place_task'\n"
            "id: 1001\nstatus: 0\nmsg: 'Status OK: home_pos_reached'\n" +
                kNoKind +
                "---\n"
                "stamp:\n  sec: -1\n  nanosec: 0\nsource_id: 'it''s'\n"
                "id: -2147483648\nstatus: 1\nmsg: \"line one\\nline \\\"two\\\"\\t\\\\\"\n" +
                kNoKind +
                "---\n"
                "stamp:\n  sec: 2147483647\n  nanosec: 999999999\nsource_id: '\xc3\xbcnic\xc3\xb8"
                "de'\nid: 2147483647\nstatus: 1\nmsg: ''\nkind: 2\nverdict: 4\npoint_id: 'b'\n"
                "duration_ms: 18446744073709551615\n---\n");
}

// /diagnostics in both formats: the array as `ros2 topic echo` prints it, or
// one JSON line that reads back to the same statuses.
TEST_F(DiagEcho, reads_diagnostics_by_its_topic_in_yaml_and_json) {
  auto diagnostics =
      node_->create_publisher<diagnostic_msgs::msg::DiagnosticArray>("/diagnostics", 10);
  diagnostic_msgs::msg::DiagnosticArray array;
  array.header.stamp.sec = 5;
  array.status.push_back(kestrune_test::PickFailedStatus());
  const std::vector<std::pair<std::string, std::string>> table = {
      {"yaml",
       "header:\n  stamp:\n    sec: 5\n    nanosec: 0\n  frame_id: ''\nstatus:\n- level: 2\n"
       "  name: 'arm: pick'\n  message: 'failed at ''grasp'' (point failed)'\n"
       "  hardware_id: 'arm'\n  values:\n  - key: 'flow id'\n    value: 'pick'\n---\n"},
      {"json",
       "{\"header\":{\"stamp\":{\"sec\":5,\"nanosec\":0},\"frame_id\":\"\"},\"status\":[{\"level\":"
       "2,"
       "\"name\":\"arm: pick\",\"message\":\"failed at 'grasp' (point failed)\",\"hardware_id\":"
       "\"arm\",\"values\":[{\"key\":\"flow id\",\"value\":\"pick\"}]}]}\n"},
  };
  for (const auto& [format, expected] : table) {
    ChildProcess echo({kDiagEcho, "/diagnostics", "--format", format, "--count", "1"});
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (diagnostics->get_subscription_count() == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Published until heard: the tool may take a moment to know this writer.
    std::optional<int> exit;
    while (!exit && std::chrono::steady_clock::now() < deadline) {
      diagnostics->publish(array);
      exit = echo.wait_for_exit(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(exit, 0) << format;
    EXPECT_EQ(echo.output(), expected) << format;
  }
}

TEST_F(DiagEcho, says_when_a_topic_carries_a_type_it_does_not_read) {
  auto diagnostics =
      node_->create_publisher<diagnostic_msgs::msg::DiagnosticArray>("diag_echo_test", 10);
  ChildProcess echo({kDiagEcho, "diag_echo_test"}, {}, kestrune_test::ChildStderr::kMerged);
  const std::string expected =
      "diag_echo: /diag_echo_test carries diagnostic_msgs/msg/DiagnosticArray, which --type event "
      "does not read; use --type diagnostics";
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (echo.output().find(expected) == std::string::npos && echo.read_output(deadline)) {
  }
  EXPECT_NE(echo.output().find(expected), std::string::npos) << echo.output();
  echo.interrupt();
  EXPECT_EQ(echo.wait_for_exit(kDeadline), 0);
}

TEST_F(DiagEcho, domain_flag_overrides_ros_domain_id) {
  const std::string ours = domain_id();
  const std::string other = std::to_string(std::stoul(ours) % 232 + 1);
  {
    ChildProcess elsewhere({kDiagEcho, "diag_echo_test", "--domain", other},
                           {"ROS_DOMAIN_ID=" + ours});
    EXPECT_FALSE(listener_matched(std::chrono::milliseconds(1500)));
  }
  ChildProcess here({kDiagEcho, "/diag_echo_test", "--domain", ours, "--count", "1"},
                    {"ROS_DOMAIN_ID=" + other});
  ASSERT_TRUE(listener_matched());
  publisher_->publish(event(1, 2, "flow", 3, 0, "here"));
  ASSERT_EQ(here.wait_for_exit(kDeadline), 0);
  EXPECT_NE(here.output().find("msg: 'here'"), std::string::npos) << here.output();
}

TEST_F(DiagEcho, interrupt_ends_listening_cleanly) {
  ChildProcess echo({kDiagEcho, "diag_echo_test"});
  ASSERT_TRUE(listener_matched());
  echo.interrupt();
  EXPECT_EQ(echo.wait_for_exit(kDeadline), 0);
}

TEST(DiagEchoCommandLine, refuses_bad_arguments_without_listening) {
  const std::vector<std::vector<std::string>> usage_errors = {
      {kDiagEcho},
      {kDiagEcho, "/diag", "--count", "0"},
      {kDiagEcho, "/diag", "--count"},
      {kDiagEcho, "/diag", "--verbose"},
      {kDiagEcho, "/diag", "/other"},
      {kDiagEcho, "/diag", "--domain", "-3"},
      {kDiagEcho, "/diag", "--type", "string"},
      {kDiagEcho, "/diag", "--format", "xml"},
  };
  for (const auto& arguments : usage_errors) {
    ChildProcess echo(arguments);
    EXPECT_EQ(echo.wait_for_exit(kDeadline), kUsageError) << arguments.back();
  }
  // Refused by the client library: an invalid topic name or ROS_DOMAIN_ID.
  ChildProcess bad_topic({kDiagEcho, "di ag", "--count", "1"});
  EXPECT_EQ(bad_topic.wait_for_exit(kDeadline), EXIT_FAILURE);
  ChildProcess bad_domain({kDiagEcho, "/diag"}, {"ROS_DOMAIN_ID=7abc"});
  EXPECT_EQ(bad_domain.wait_for_exit(kDeadline), EXIT_FAILURE);
  EXPECT_EQ(bad_topic.output() + bad_domain.output(), "");
  ChildProcess help({kDiagEcho, "--help"});
  EXPECT_EQ(help.wait_for_exit(kDeadline), 0);
  EXPECT_EQ(help.output().rfind("usage: diag_echo <topic>", 0), 0u) << help.output();
}

}  // namespace
