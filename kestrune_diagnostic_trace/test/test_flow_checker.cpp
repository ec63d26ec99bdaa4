// flow_checker as a program: fed by sender processes over DDS, judged by the
// events and the /diagnostics statuses it publishes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <diagnostic_msgs/msg/diagnostic_array.hpp>
#include <kestrune_diagnostic_trace/diagnostic_event.hpp>
#include <kestrune_diagnostic_trace/flow_report.hpp>
#include <rclcpp/rclcpp.hpp>

#include "kestrune_test/child_process.hpp"
#include "support/temp_file.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using diagnostic_msgs::msg::DiagnosticArray;
using diagnostic_msgs::msg::DiagnosticStatus;
using kestrune::trace::DiagnosticEvent;
using kestrune_test::ChildProcess;
using kestrune_test::ChildStderr;
namespace report = kestrune::trace::report;

constexpr auto kDeadline = std::chrono::seconds(20);
// Long enough for a second sender process to start and send within it.
constexpr char kReorderMs[] = "1500";

constexpr char kFlows[] = R"(
diagnostics: {enabled: true, period_ms: 200}
workflows:
  - flow_id: stamped
    diag_topic: /flow_checker_test/events
    flow_points: [{point_id: a}, {point_id: b}, {point_id: c}]
  - flow_id: pair
    diag_topic: /flow_checker_test/events
    flow_points: [{point_id: a}, {point_id: b}, {point_id: c}]
  - flow_id: late
    diag_topic: /flow_checker_test/events
    flow_points: [{point_id: a}, {point_id: b}, {point_id: c}]
  - flow_id: race
    diag_topic: /flow_checker_test/events
    flow_points: [{point_id: a}, {point_id: b}, {point_id: c}]
  - flow_id: gap
    flow_points: [{point_id: a}]
  - flow_id: remote_pick
    diag_topic: /flow_checker_test/events
    remote: true
    check_at_end: true
    flow_points: [{point_id: a}, {point_id: b, repeat_cnt: 2}]
)";

// The load goes to a checker of its own, on a topic of its own, that logs only warnings.
constexpr char kLoadFlows[] = R"(
points_topic: load/points
diagnostics: {enabled: true, period_ms: 200}
workflows:
  - {flow_id: load0, check_at_end: true, flow_points: &run [{point_id: a}, {point_id: b},
     {point_id: c}, {point_id: d}, {point_id: e}]}
  - {flow_id: load1, check_at_end: true, flow_points: *run}
  - {flow_id: load2, check_at_end: true, flow_points: *run}
  - {flow_id: load3, check_at_end: true, flow_points: *run}
)";

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string Value(const DiagnosticStatus& status, const std::string& name) {
  for (const auto& value : status.values) {
    if (value.key == name) {
      return value.value;
    }
  }
  return "<absent>";
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class FlowCheckerProcesses : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rclcpp::init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>("flow_checker_test");
    events_sub_ = node_->create_subscription<DiagnosticEvent>(
        "/flow_checker_test/events", 1000,
        [](const DiagnosticEvent& event) { events_[event.source_id].push_back(event.msg); });
    statuses_sub_ = node_->create_subscription<DiagnosticArray>(
        "/diagnostics", 100, [](const DiagnosticArray& array) {
          for (const auto& status : array.status) {
            statuses_[status.name] = status;
          }
        });
    flows_ = std::make_unique<kestrune_test::TempFile>(kFlows);
    checker_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{KESTRUNE_FLOW_CHECKER, "--config", flows_->path(), "--reorder-ms",
                                 kReorderMs},
        std::vector<std::string>{}, ChildStderr::kMerged);
    ASSERT_TRUE(SpinUntil([] {
      return statuses_.count(std::string("flow_checker: ") + report::kCheckerSubject) != 0;
    })) << checker_->output();
  }

  static void TearDownTestSuite() {
    checker_->interrupt();
    EXPECT_EQ(checker_->wait_for_exit(kDeadline), 0) << checker_->output();
    checker_.reset();
    events_sub_.reset();
    statuses_sub_.reset();
    node_.reset();
    rclcpp::shutdown();
  }

  /// Spins the test's node, reading the checker's output too, until `done` holds.
  template <typename Predicate>
  static bool SpinUntil(Predicate done, std::chrono::seconds timeout = kDeadline) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
      if (Clock::now() > deadline) {
        return false;
      }
      rclcpp::spin_some(node_);
      checker_->read_output(Clock::now() + std::chrono::milliseconds(5));
    }
    return true;
  }

  /// Starts flow_point_probe with `args`.
  static std::unique_ptr<ChildProcess> Start(std::vector<std::string> args) {
    args.insert(args.begin(), KESTRUNE_FLOW_POINT_PROBE);
    return std::make_unique<ChildProcess>(args, std::vector<std::string>{}, ChildStderr::kMerged);
  }

  /// Waits for the probe to send everything and end.
  static void Finish(ChildProcess& probe) {
    std::optional<int> status;
    ASSERT_TRUE(SpinUntil([&] {
      status = probe.wait_for_exit(Clock::now() + std::chrono::milliseconds(5));
      return status.has_value();
    })) << probe.output();
    EXPECT_EQ(status, 0) << probe.output();
  }

  static void Run(std::vector<std::string> args) {
    auto probe = Start(std::move(args));
    Finish(*probe);
  }

  /// A value of the checker's own status, as last published.
  static uint64_t Counted(const char* name, const std::string& checker = "flow_checker") {
    return std::stoull(Value(statuses_[checker + ": " + report::kCheckerSubject], name));
  }

  /// Spins until the flow's status says `runs` runs were checked.
  static const DiagnosticStatus& AfterRuns(const std::string& flow, uint64_t runs,
                                           const std::string& checker = "flow_checker") {
    const std::string name = checker + ": " + flow;
    EXPECT_TRUE(SpinUntil([&] {
      return statuses_.count(name) != 0 &&
             Value(statuses_[name], report::kRunsChecked) == std::to_string(runs);
    })) << checker_->output();
    return statuses_[name];
  }

  static std::string At(int64_t base, int64_t offset) {
    return "@" + std::to_string(base + offset);
  }

  static inline std::shared_ptr<rclcpp::Node> node_;
  static inline std::shared_ptr<void> events_sub_;
  static inline std::shared_ptr<void> statuses_sub_;
  static inline std::map<std::string, std::vector<std::string>> events_;
  static inline std::map<std::string, DiagnosticStatus> statuses_;
  static inline std::unique_ptr<kestrune_test::TempFile> flows_;
  static inline std::unique_ptr<ChildProcess> checker_;
};

TEST_F(FlowCheckerProcesses, points_of_two_processes_are_judged_in_the_order_of_their_stamps) {
  const int64_t base = NowMs();
  // c reaches the checker before b, which is stamped before it.
  auto first =
      Start({"wait", "point 0 stamped a " + At(base, 0), "point 0 stamped c " + At(base, 20)});
  auto second = Start({"--node", "second", "wait", "pause 500", "point 0 stamped b " + At(base, 10),
                       "check 0 stamped"});
  Finish(*first);
  Finish(*second);
  const DiagnosticStatus& status = AfterRuns("stamped", 1);
  EXPECT_EQ(Value(status, report::kLastVerdict), "SUCCESS") << status.message;
  EXPECT_EQ(events_["stamped"], std::vector<std::string>{"Succeed flow: stamped"});
}

TEST_F(FlowCheckerProcesses, senders_are_told_apart_by_writer_so_twins_and_restarts_lose_nothing) {
  const uint64_t lost = Counted(report::kCheckerLost);
  const uint64_t senders = Counted(report::kCheckerSenders);
  const int64_t base = NowMs();
  // Two senders of one node, numbered from 1 each, then the same node again.
  Run({"--node", "twin", "--senders", "2", "wait", "point 0 pair a " + At(base, 0),
       "point 1 pair b " + At(base, 10)});
  Run({"--node", "twin", "wait", "point 0 pair c " + At(base, 20), "check 0 pair"});
  const DiagnosticStatus& status = AfterRuns("pair", 1);
  EXPECT_EQ(Value(status, report::kLastVerdict), "SUCCESS") << status.message;
  ASSERT_TRUE(SpinUntil([&] { return Counted(report::kCheckerSenders) >= senders + 3; }));
  EXPECT_EQ(Counted(report::kCheckerLost), lost);
}

TEST_F(FlowCheckerProcesses, a_point_after_the_window_is_late_and_its_flow_says_so) {
  const uint64_t late = Counted(report::kCheckerLate);
  const int64_t base = NowMs();
  Run({"wait", "point 0 late b " + At(base, 10), "pause 2000", "point 0 late a " + At(base, 0),
       "point 0 late c " + At(base, 20), "check 0 late"});
  const DiagnosticStatus& status = AfterRuns("late", 1);
  EXPECT_NE(Value(status, report::kLastVerdict), "SUCCESS");
  EXPECT_NE(status.message.find("; 1 late point"), std::string::npos) << status.message;
  EXPECT_EQ(Value(status, report::kLatePoints), "1");
  ASSERT_TRUE(SpinUntil([&] { return Counted(report::kCheckerLate) == late + 1; }));
  EXPECT_EQ(statuses_[std::string("flow_checker: ") + report::kCheckerSubject].level,
            DiagnosticStatus::WARN);
}

TEST_F(FlowCheckerProcesses, requests_split_runs_at_their_stamps_whichever_sender_sends_them) {
  const int64_t base = NowMs();
  // Another sender checks between c and the second a, and resets before the
  // second b; the points' own sender checks last.
  auto points =
      Start({"wait", "pause 300", "point 0 race a " + At(base, 0), "point 0 race b " + At(base, 10),
             "point 0 race c " + At(base, 20), "point 0 race a " + At(base, 30),
             "point 0 race b " + At(base, 40), "check 0 race"});
  auto requests = Start({"--node", "requests", "wait", "request check race " + At(base, 25),
                         "request reset race " + At(base, 35)});
  Finish(*points);
  Finish(*requests);
  const DiagnosticStatus& status = AfterRuns("race", 2);
  // [a b c] passed; [a] was dropped; [b] fails for want of a.
  EXPECT_EQ(Value(status, report::kRunsFailed), "1") << status.message;
  EXPECT_EQ(Value(status, report::kLastFailurePoint), "a") << status.message;
  EXPECT_EQ(Count(checker_->output(), "Flow 'race' check passed"), 1u) << checker_->output();
}

// The same flow file on both sides: the node sends, the checker judges.
TEST_F(FlowCheckerProcesses,
       a_node_tracing_a_remote_flow_reaches_the_checker_whose_runs_end_alone) {
  Run({"--node", "existing_node", "--senders", "0", "engine " + flows_->path(), "wait",
       "trace remote_pick a", "trace remote_pick b", "trace remote_pick b", "trace remote_pick a",
       "trace remote_pick b", "trace remote_pick b", "trace remote_pick a",
       "engine-reset remote_pick", "trace remote_pick a", "engine-check remote_pick"});
  const DiagnosticStatus& status = AfterRuns("remote_pick", 3);
  EXPECT_EQ(Value(status, report::kRunsFailed), "1") << status.message;
  EXPECT_EQ(Count(checker_->output(), "Flow 'remote_pick' check passed"), 2u);
}

TEST_F(FlowCheckerProcesses, gaps_are_counted_and_logged_once_and_unknown_flows_warned_once) {
  const uint64_t lost = Counted(report::kCheckerLost);
  const uint64_t unknown = Counted(report::kCheckerUnknown);
  Run({"--node", "gapped", "wait", "raw gap a 1", "raw gap a 2", "raw gap a 5",
       "point 0 nowhere a 0", "point 0 nowhere a 0"});
  ASSERT_TRUE(SpinUntil([&] {
    return Counted(report::kCheckerLost) == lost + 2 &&
           Counted(report::kCheckerUnknown) == unknown + 2;
  })) << checker_->output();
  EXPECT_EQ(Count(checker_->output(), "2 messages from '/gapped' lost: got number 5, expected 3"),
            1u)
      << checker_->output();
  EXPECT_EQ(Count(checker_->output(), "flow 'nowhere' is not in the flow file"), 1u);
}

// Four sender processes, each at the rate and for the seconds of KESTRUNE_LOAD.
TEST_F(FlowCheckerProcesses, a_sustained_load_loses_nothing_and_every_run_passes) {
  kestrune_test::TempFile flows(kLoadFlows);
  ChildProcess checker(
      {KESTRUNE_FLOW_CHECKER, "--config", flows.path(), "--ros-args", "-r", "__node:=load_checker"},
      {"SPDLOG_LEVEL=warning"}, ChildStderr::kMerged);
  ASSERT_TRUE(SpinUntil([] {
    return statuses_.count(std::string("load_checker: ") + report::kCheckerSubject) != 0;
  }));
  std::vector<std::unique_ptr<ChildProcess>> senders;
  for (int i = 0; i < 4; ++i) {
    const std::string flow = "load" + std::to_string(i);
    senders.push_back(Start({"--node", flow, "--topic", "load/points", "wait",
                             "load " + flow + " a,b,c,d,e " KESTRUNE_LOAD}));
  }
  uint64_t sent = 0;
  for (auto& sender : senders) {
    Finish(*sender);
    sent += std::stoull(sender->output().substr(sender->output().rfind("sent ") + 5));
  }
  ASSERT_TRUE(SpinUntil([&] { return Counted(report::kCheckerReceived, "load_checker") >= sent; }))
      << "received " << Counted(report::kCheckerReceived, "load_checker") << " of " << sent;
  EXPECT_EQ(Counted(report::kCheckerReceived, "load_checker"), sent);
  EXPECT_EQ(Counted(report::kCheckerLost, "load_checker"), 0u);
  for (int i = 0; i < 4; ++i) {
    const DiagnosticStatus& status =
        AfterRuns("load" + std::to_string(i), sent / 4 / 5, "load_checker");
    EXPECT_EQ(Value(status, report::kRunsFailed), "0") << status.message;
  }
  checker.interrupt();
  EXPECT_EQ(checker.wait_for_exit(kDeadline), 0) << checker.output();
}

}  // namespace
