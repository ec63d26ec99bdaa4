// Flow health as /diagnostics shows it: the engine driven through runs, its
// statuses read back by a subscriber in this process.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <diagnostic_msgs/msg/diagnostic_array.hpp>
#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <rclcpp/rclcpp.hpp>

#include "flow_trace/flow_health.hpp"
#include "support/engine.hpp"
#include "support/temp_file.hpp"

namespace {

using diagnostic_msgs::msg::DiagnosticArray;
using diagnostic_msgs::msg::DiagnosticStatus;
using kestrune::trace::TracePoint;
using kestrune_test::Engine;

constexpr std::chrono::seconds kDeadline{5};

// `pick` is ordered with an optional point and a repeated, timed one; `move`
// stalls after 300 ms without a point.
constexpr char kConfig[] = R"(
diagnostics: {enabled: true, period_ms: 200, hardware_id: test-robot}
workflows:
  - flow_id: pick
    diag_topic: /health_test/pick
    event_id: 10
    flow_points:
      - {point_id: a, event_id: 11}
      - {point_id: b, event_id: 12, optional: true}
      - {point_id: c, event_id: 13, repeat_cnt: 2, timeout_ms: 20, on_timeout: true}
      - {point_id: d, event_id: 14}
  - flow_id: move/base
    diag_topic: /health_test/move
    event_id: 20
    stall_ms: 300
    flow_points:
      - {point_id: m1, event_id: 21}
      - {point_id: m2, event_id: 22}
  - flow_id: place
    diag_topic: /health_test/place
    event_id: 30
    budget_ms: 1500
    flow_points:
      - {point_id: p1, event_id: 31}
      - {point_id: p2, event_id: 32}
)";

std::string Value(const DiagnosticStatus& status, const std::string& key) {
  for (const auto& value : status.values) {
    if (value.key == key) {
      return value.value;
    }
  }
  return "<absent>";
}

void Trace(const std::string& flow, const std::string& point, bool success = true) {
  Engine()->Trace(flow, point, success);
}

/// A point stamped `ms_ago` in the past: timing without waiting.
void TraceAt(const std::string& flow, const std::string& point, int64_t ms_ago) {
  auto prepared = std::make_shared<TracePoint>(point, true);
  prepared->timestamp_ms -= ms_ago;
  Engine()->Trace(flow, prepared);
}

class FlowHealthReport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rclcpp::init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>("health_test");
    listener_ = std::make_shared<rclcpp::Node>("health_listener");
    subscription_ = listener_->create_subscription<DiagnosticArray>(
        "/diagnostics", 10, [](const DiagnosticArray& array) {
          // Other test programs on the domain publish their own flows.
          last_array_.clear();
          for (const auto& status : array.status) {
            if (status.name.rfind("health_test: ", 0) == 0) {
              latest_[Value(status, "flow id")] = status;
              last_array_.push_back(Value(status, "flow id"));
            }
          }
        });
  }
  static void TearDownTestSuite() {
    subscription_.reset();
    rclcpp::shutdown();
  }

  void SetUp() override {
    kestrune_test::TempFile file(kConfig);
    Engine()->Init(file.path(), node_);
    latest_.clear();
  }

  /// The flow's first status for which `holds` is true, within the deadline.
  static std::optional<DiagnosticStatus> WaitFor(
      const std::string& flow_id, const std::function<bool(const DiagnosticStatus&)>& holds) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (std::chrono::steady_clock::now() < deadline) {
      rclcpp::spin_some(listener_);
      auto status = latest_.find(flow_id);
      if (status != latest_.end() && holds(status->second)) {
        return status->second;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
  }

  static std::optional<DiagnosticStatus> WaitForMessage(const std::string& flow_id,
                                                        const std::string& prefix) {
    return WaitFor(flow_id, [&](const DiagnosticStatus& status) {
      return status.message.rfind(prefix, 0) == 0;
    });
  }

  static inline std::shared_ptr<rclcpp::Node> node_;
  static inline std::shared_ptr<rclcpp::Node> listener_;
  static inline std::shared_ptr<rclcpp::Subscription<DiagnosticArray>> subscription_;
  static inline std::map<std::string, DiagnosticStatus> latest_;
  /// The flow ids of the last array, in its order.
  static inline std::vector<std::string> last_array_;
};

// The flows are copied a slice of the table at a time: every one of them must
// still come exactly once, in order.
TEST_F(FlowHealthReport, an_array_of_many_flows_holds_each_flow_once_in_order) {
  std::vector<std::string> expected = {"move/base", "pick", "place"};
  for (int i = 0; i < 300; ++i) {
    auto flow = std::make_shared<kestrune::trace::TraceFlowCfg>();
    flow->flow_id = "many_" + std::to_string(1000 + i);
    flow->flow_points.push_back(std::make_shared<kestrune::trace::TracePointCfg>("a"));
    Engine()->RegisterTraceFlow(flow);
    expected.push_back(flow->flow_id);
  }
  std::sort(expected.begin(), expected.end());
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (last_array_ != expected && std::chrono::steady_clock::now() < deadline) {
    rclcpp::spin_some(listener_);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(last_array_, expected);
}

TEST_F(FlowHealthReport,
       every_flow_has_a_status_named_after_node_and_flow_waiting_for_its_first_run) {
  const auto pick = WaitForMessage("pick", "waiting for first run");
  ASSERT_TRUE(pick);
  EXPECT_EQ(pick->level, DiagnosticStatus::OK);
  EXPECT_EQ(pick->name, "health_test: pick");
  EXPECT_EQ(pick->hardware_id, "test-robot");
  EXPECT_EQ(Value(*pick, "state"), "idle");
  EXPECT_EQ(Value(*pick, "last verdict"), "none");
  EXPECT_EQ(Value(*pick, "configured points"), "4");
  EXPECT_EQ(Value(*pick, "next expected point"), "a");
  // rqt_robot_monitor splits names on '/'.
  const auto move = WaitForMessage("move/base", "waiting for first run");
  ASSERT_TRUE(move);
  EXPECT_EQ(move->name, "health_test: move_base");
  EXPECT_EQ(Value(*move, "stall after"), "0.30 s");
}

// Each run, and the level, message and values it must leave on /diagnostics.
struct Scenario {
  const char* name;
  std::function<void()> run;
  unsigned char level;
  const char* message_prefix;
  std::map<std::string, std::string> values;
};

TEST_F(FlowHealthReport, runs_give_the_levels_messages_and_values_of_their_table) {
  const std::vector<Scenario> scenarios{
      {"clean run",
       [] {
         for (const char* point : {"a", "b", "c", "c", "d"}) {
           Trace("pick", point);
         }
         Engine()->CheckFlow("pick");
       },
       DiagnosticStatus::OK,
       "passed 4/4 points in ",
       {{"state", "idle"},
        {"last verdict", "SUCCESS"},
        {"runs checked", "1"},
        {"runs failed", "0"},
        {"points recorded", "5"},
        {"last failure point", "none"}}},
      {"failed critical point, before any check",
       [] {
         Trace("pick", "a");
         Trace("pick", "b");
         Trace("pick", "c", false);
       },
       DiagnosticStatus::ERROR,
       "failed at 'c' (point failed)",
       {{"state", "running"},
        {"last verdict", "none"},
        {"last failure point", "c"},
        {"last event", "Status Failed: c"}}},
      {"optional point missing",
       [] {
         for (const char* point : {"a", "c", "c", "d"}) {
           Trace("pick", point);
         }
         Engine()->CheckFlow("pick");
       },
       DiagnosticStatus::WARN,
       "passed 3/4 points in ",
       {{"last verdict", "SUCCESS"}}},
      {"timeout between repeats",
       [] {
         Trace("pick", "a");
         TraceAt("pick", "c", 100);
         Trace("pick", "c");
       },
       DiagnosticStatus::WARN,
       "running: 3 points recorded, expecting 'd'; a timeout was reported",
       {{"timeouts", "1"}, {"state", "running"}, {"last event", "cTimeout"}}},
      {"failed verdict",
       [] {
         for (const char* point : {"a", "b", "c", "c"}) {
           Trace("pick", point);
         }
         Engine()->CheckFlow("pick");
       },
       DiagnosticStatus::ERROR,
       "failed at 'd' (point missing)",
       {{"last verdict", "MISSING_POINT"},
        {"runs failed", "1"},
        {"last failure point", "d"},
        {"last event", "Status Failed, point d missing in flow pick"}}},
      {"mismatch verdict of an ordered flow",
       [] {
         Trace("pick", "b");
         Engine()->CheckFlow("pick");
       },
       DiagnosticStatus::ERROR,
       "failed at 'a' (point missing)",
       // The verdict, not the running check's event before it, is the last event.
       {{"last verdict", "MISSING_POINT"},
        {"last event", "Status Failed, point a missing in flow pick"}}},
      {"failed verdict, then a passing run",
       [] {
         Trace("pick", "a");
         Engine()->CheckFlow("pick");
         Engine()->ResetFlow("pick");
         for (const char* point : {"a", "b", "c", "c", "d"}) {
           Trace("pick", point);
         }
         Engine()->CheckFlow("pick");
       },
       DiagnosticStatus::OK,
       "passed 4/4 points in ",
       {{"last verdict", "SUCCESS"}, {"runs checked", "2"}, {"runs failed", "1"}}},
      {"optional point missing in the run before",
       [] {
         for (const char* point : {"a", "c", "c", "d"}) {
           Trace("pick", point);
         }
         Engine()->ResetFlow("pick");
         Trace("pick", "a");
       },
       DiagnosticStatus::WARN,
       "running: 1 points recorded, expecting 'b'; optional points failed or missing",
       {}},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    SetUp();
    scenario.run();
    const auto status = WaitForMessage("pick", scenario.message_prefix);
    ASSERT_TRUE(status) << "last message: "
                        << (latest_.count("pick") != 0 ? latest_["pick"].message : "none");
    EXPECT_EQ(status->level, scenario.level);
    for (const auto& [key, value] : scenario.values) {
      EXPECT_EQ(Value(*status, key), value) << key;
    }
  }
}

TEST_F(FlowHealthReport, a_stalled_run_sends_one_event_and_stays_an_error_until_a_check_passes) {
  std::vector<kestrune::trace::DiagnosticEvent> events;
  auto events_subscription = listener_->create_subscription<kestrune::trace::DiagnosticEvent>(
      "/health_test/move", 10,
      [&](const kestrune::trace::DiagnosticEvent& event) { events.push_back(event); });
  Trace("move/base", "m1");
  const auto stalled = WaitForMessage("move/base", "stalled after 'm1' for ");
  ASSERT_TRUE(stalled);
  EXPECT_EQ(stalled->level, DiagnosticStatus::ERROR);
  EXPECT_NE(stalled->message.find(", expecting 'm2'"), std::string::npos) << stalled->message;
  EXPECT_EQ(Value(*stalled, "state"), "stalled");
  EXPECT_EQ(Value(*stalled, "last event"), "Status Failed, flow stalled: move/base after m1");

  // Still stalled at a later publication, and still one event: once per stall.
  ASSERT_TRUE(WaitFor("move/base", [&](const DiagnosticStatus& status) {
    return status.message != stalled->message && Value(status, "state") == "stalled";
  }));
  rclcpp::spin_some(listener_);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].status, 1);
  EXPECT_EQ(events[0].id, 20);
  EXPECT_EQ(events[0].msg, "Status Failed, flow stalled: move/base after m1");
  EXPECT_EQ(events[0].kind, kestrune::trace::DiagnosticEvent::KIND_STALL);
  EXPECT_EQ(events[0].point_id, "m1");

  // A new point ends the stall; the error stays until a check passes.
  Trace("move/base", "m2");
  const auto recovered = WaitFor(
      "move/base", [](const DiagnosticStatus& status) { return Value(status, "state") == "idle"; });
  ASSERT_TRUE(recovered);
  EXPECT_EQ(recovered->level, DiagnosticStatus::ERROR);
  EXPECT_EQ(recovered->message, "failed at 'm1' (flow stalled)");
  Engine()->CheckFlow("move/base");
  const auto passed = WaitForMessage("move/base", "passed 2/2 points");
  ASSERT_TRUE(passed);
  EXPECT_EQ(passed->level, DiagnosticStatus::OK);
}

// A passing run of `place` whose points came `took_ms` apart on the steady clock.
void RunPlace(int64_t took_ms, bool success = true) {
  Engine()->ResetFlow("place");
  auto first = std::make_shared<TracePoint>("p1", true);
  auto last = std::make_shared<TracePoint>("p2", success);
  last->steady_time = *first->steady_time + std::chrono::milliseconds(took_ms);
  Engine()->Trace("place", first);
  Engine()->Trace("place", last);
  Engine()->CheckFlow("place");
}

TEST_F(FlowHealthReport, a_run_over_budget_warns_until_one_within_passes_and_an_error_wins) {
  RunPlace(1900);
  const auto over = WaitForMessage("place", "over budget: took 1.9 s, budget 1.5 s");
  ASSERT_TRUE(over);
  EXPECT_EQ(over->level, DiagnosticStatus::WARN);
  EXPECT_EQ(Value(*over, "budget"), "1.50 s");
  EXPECT_EQ(Value(*over, "over budget share"), "100 %");
  EXPECT_EQ(Value(*over, "step p1 -> p2"), "median 1.90 s, p95 1.90 s");
  RunPlace(100, false);
  const auto failed = WaitForMessage("place", "failed at 'p2'");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->level, DiagnosticStatus::ERROR);
  RunPlace(1000);
  const auto within = WaitForMessage("place", "passed 2/2 points");
  ASSERT_TRUE(within);
  EXPECT_EQ(within->level, DiagnosticStatus::OK);
  EXPECT_EQ(Value(*within, "runs measured"), "2");
  EXPECT_EQ(Value(*within, "median duration"), "1.45 s");
}

// The heartbeat's thread always beats in this process, so its late beat is
// judged on the assessment itself.
TEST(FlowHealthAssessment, a_heartbeat_is_an_error_once_its_last_beat_is_three_periods_old) {
  using namespace kestrune::trace::detail;
  FlowSnapshot heartbeat;
  heartbeat.flow_id = "heartbeat";
  heartbeat.heartbeat = true;
  heartbeat.run_points = 7;
  const SteadyTime beat = std::chrono::steady_clock::now();
  const FlowObservation observation{heartbeat.mark(), beat, false};
  const struct {
    int age_ms;
    FlowLevel level;
    const char* message;
  } cases[] = {
      {250, FlowLevel::kOk, "last beat 0.2 s ago"},
      {300, FlowLevel::kOk, "last beat 0.3 s ago"},
      {301, FlowLevel::kError, "heartbeat late: last beat 0.3 s ago, period 0.1 s"},
  };
  for (const auto& c : cases) {
    const FlowHealth health =
        AssessFlow(heartbeat, observation, beat + std::chrono::milliseconds(c.age_ms), 100);
    EXPECT_EQ(health.level, c.level) << c.age_ms;
    EXPECT_EQ(health.message, c.message) << c.age_ms;
  }
  const FlowHealth health =
      AssessFlow(heartbeat, observation, beat + std::chrono::milliseconds(500), 100);
  EXPECT_EQ(health.values.back().first, "beat period");
  EXPECT_EQ(health.values[health.values.size() - 2].second, "0.50 s");
}

}  // namespace
