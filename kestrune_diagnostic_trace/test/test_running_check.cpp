#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <vector>

#include <kestrune_diagnostic_trace/flow_report.hpp>
#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <rclcpp/rclcpp.hpp>

#include "support/captured_log.hpp"
#include "support/engine.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::DiagnosticEvent;
using kestrune::trace::FlowTrace;
using kestrune::trace::PublishCallback;
using kestrune::trace::TraceFlowCfg;
using kestrune::trace::TracePoint;
using kestrune::trace::TracePointCfg;
using kestrune_test::CapturedLog;
using kestrune_test::Engine;
using kestrune_test::HasLine;
using kestrune_test::SentEvent;
using kestrune_test::TempFile;

/// status, id, text
using Event = std::tuple<int32_t, int32_t, std::string>;
using Events = std::vector<Event>;

// One flow "F" on /diag with flow event_id 90 and the points a, b, c, each
// with the given extra keys.
std::string FlowF(const std::string& a, const std::string& b, const std::string& c,
                  bool ordered = true) {
  auto point = [](const std::string& id, const std::string& keys) {
    return "      - {point_id: " + id + (keys.empty() ? "" : ", " + keys) + "}\n";
  };
  return std::string("workflows:\n  - flow_id: F\n    diag_topic: /diag\n    event_id: 90\n") +
         "    check_order: " + (ordered ? "true" : "false") + "\n    flow_points:\n" +
         point("a", a) + point("b", b) + point("c", c);
}

std::shared_ptr<TracePoint> PointAt(const std::string& point_id, int64_t timestamp_ms,
                                    bool success = true) {
  auto point = std::make_shared<TracePoint>(point_id, success);
  point->timestamp_ms = timestamp_ms;
  return point;
}

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t StampNs(const DiagnosticEvent& event) {
  return int64_t{event.stamp.sec} * 1000000000 + event.stamp.nanosec;
}

/// Sends every event of the engine to the recording publish callback.
class RunningCheck : public kestrune_test::EngineTest {
 protected:
  /// The events sent and not yet taken.
  std::vector<SentEvent>& Sent() {
    for (auto& sent : TakeSent()) {
      sent_.push_back(std::move(sent));
    }
    return sent_;
  }

  Events Take() {
    Events events;
    for (const auto& sent : Sent()) {
      events.emplace_back(sent.event.status, sent.event.id, sent.event.msg);
    }
    sent_.clear();
    return events;
  }

  uint32_t CheckIndex(const std::string& flow_id = "F") {
    return Engine()->GetTraceFlowCfg(flow_id)->check_index;
  }
  TracePointCfg& PointCfg(size_t position, const std::string& flow_id = "F") {
    return *Engine()->GetTraceFlowCfg(flow_id)->flow_points.at(position);
  }

 private:
  std::vector<SentEvent> sent_;
};

TEST_F(RunningCheck, in_order_points_send_only_configured_success_reports) {
  Load(FlowF("event_id: 10", "event_id: 11, on_success: true", "on_success: true"));
  CapturedLog log;
  const int64_t before = NowNs();
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "b", true);
  Engine()->Trace("F", "c", true);
  const int64_t after = NowNs();
  const auto lines = log.Lines();

  ASSERT_EQ(Sent().size(), 1u);
  const SentEvent sent = Sent().front();
  EXPECT_EQ(sent.topic, "/diag");
  EXPECT_EQ(sent.event.source_id, "F");
  EXPECT_GE(StampNs(sent.event), before);
  EXPECT_LE(StampNs(sent.event), after);
  EXPECT_EQ(Take(), (Events{{0, 11, "Status OK: b"}}));
  EXPECT_TRUE(HasLine(lines, "[INFO] ROS2 topic pub: 'Status OK: b'"));
  EXPECT_EQ(CheckIndex(), 3u);
}

TEST_F(RunningCheck, failed_point_reports_only_with_event_id_and_on_failure) {
  Load(FlowF("", "event_id: 12", ""));
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "b", false);
  EXPECT_EQ(Take(), (Events{{1, 12, "Status Failed: b"}}));
  EXPECT_EQ(CheckIndex(), 2u);

  Load(FlowF("", "event_id: 12, on_failure: false", ""));
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "b", false);
  Load(FlowF("", "on_success: true", ""));
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "b", false);
  Engine()->Trace("F", "c", true);
  EXPECT_EQ(Take(), Events{});
}

TEST_F(RunningCheck, skipped_critical_point_is_reported_missing_and_the_next_is_judged) {
  Load(FlowF("", "", "event_id: 13, on_success: true"));
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "c", true, {{"k", "v"}});
  // The id of b is sent even though it is 0; the metadata of c goes with c's report only.
  EXPECT_EQ(Take(),
            (Events{{1, 0, "Status Failed, point missing: b"}, {0, 13, "Status OK: c,k:v;"}}));
  EXPECT_EQ(CheckIndex(), 3u);
}

TEST_F(RunningCheck, skipped_optional_point_only_warns) {
  Load(FlowF("", "event_id: 11, optional: true", ""));
  CapturedLog log;
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "c", true);
  EXPECT_TRUE(HasLine(log.Lines(), "[WARN] optional point missing: 'b'"));
  EXPECT_EQ(Take(), Events{});
  EXPECT_EQ(CheckIndex(), 3u);
}

TEST_F(RunningCheck, direct_repeat_of_the_last_match_is_a_duplicate) {
  Load(FlowF("event_id: 7", "event_id: 8", ""));
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "a", true, {{"k", "v"}});
  EXPECT_EQ(Take(), (Events{{1, 7, "Status Failed, point duplicated: a,k:v;"}}));
  EXPECT_EQ(CheckIndex(), 1u);

  // Not directly after itself: an undefined point for the expected b.
  Engine()->Trace("F", "x", true);
  Engine()->Trace("F", "a", true);
  EXPECT_EQ(Take(), (Events{{1, 8, "Status Failed, undefined point: x"},
                            {1, 8, "Status Failed, undefined point: a"}}));

  // The last point repeated is a duplicate too, unlike any other point past the end.
  Engine()->Trace("F", "b", true);
  Engine()->Trace("F", "c", true);
  Engine()->Trace("F", "c", true);
  Engine()->Trace("F", "d", true);
  Engine()->Trace("F", "a", true);
  EXPECT_EQ(Take(), (Events{{1, 0, "Status Failed, point duplicated: c"}}));
  EXPECT_EQ(CheckIndex(), 3u);
}

TEST_F(RunningCheck, undefined_point_keeps_the_expected_point) {
  Load(FlowF("", "event_id: 11", ""));
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "x", true);
  EXPECT_EQ(Take(), (Events{{1, 11, "Status Failed, undefined point: x"}}));
  EXPECT_EQ(CheckIndex(), 1u);
  Engine()->Trace("F", "b", true);
  EXPECT_EQ(Take(), Events{});
  EXPECT_EQ(CheckIndex(), 2u);
}

TEST_F(RunningCheck, points_past_the_end_are_ignored_silently) {
  Load(FlowF("", "", ""));
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "b", true);
  Engine()->Trace("F", "c", true);
  CapturedLog log;
  Engine()->Trace("F", "d", false);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{});
  EXPECT_EQ(Take(), Events{});
  EXPECT_EQ(CheckIndex(), 3u);
}

TEST_F(RunningCheck, unordered_flow_reports_known_points_and_undefined_ones) {
  Load(FlowF("event_id: 10", "event_id: 11, on_success: true, repeat_cnt: 2", "", false));
  Engine()->Trace("F", "c", true);
  Engine()->Trace("F", "x", true, {{"k", "v"}});
  Engine()->Trace("F", "a", false);
  Engine()->Trace("F", "b", true);
  Engine()->Trace("F", "b", true);
  EXPECT_EQ(Take(), (Events{{1, 90, "Status Failed, undefined point: x,k:v;"},
                            {1, 10, "Status Failed: a"},
                            {0, 11, "Status OK: b"},
                            {0, 11, "Status OK: b"}}));
  EXPECT_EQ(CheckIndex(), 0u);
  EXPECT_EQ(PointCfg(1).exec_cnt, 0u);
}

TEST_F(RunningCheck, flow_without_points_ignores_ordered_and_rejects_unordered_points) {
  Load("workflows: []\n");
  std::vector<std::shared_ptr<TracePointCfg>> none;
  Engine()->RegisterTraceFlow("ordered", none, "", "", true);
  Engine()->RegisterTraceFlow("unordered", none, "", "", false);
  Engine()->Trace("ordered", "a", true);
  Engine()->Trace("unordered", "a", true);
  Engine()->Trace("unordered", "b", false);
  ASSERT_EQ(Sent().size(), 2u);
  // A flow registered in code has no topic; the callback still gets the event.
  EXPECT_EQ(Sent().front().topic, "");
  EXPECT_EQ(Sent().front().event.source_id, "unordered");
  EXPECT_EQ(Take(), (Events{{1, 0, "Status Failed, undefined point: a"},
                            {1, 0, "Status Failed, undefined point: b"}}));
}

TEST_F(RunningCheck, repeated_point_holds_the_flow_until_counted_in_this_run) {
  Load(FlowF("event_id: 10", "event_id: 11, repeat_cnt: 3", ""));
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "b", true);
  Engine()->Trace("F", "b", true);
  EXPECT_EQ(CheckIndex(), 1u);
  EXPECT_EQ(PointCfg(1).exec_cnt, 2u);
  Engine()->Trace("F", "b", true);
  EXPECT_EQ(CheckIndex(), 2u);
  Engine()->Trace("F", "c", true);
  EXPECT_EQ(CheckIndex(), 3u);

  Engine()->ResetFlow("F");
  EXPECT_EQ(PointCfg(1).exec_cnt, 0u);
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "b", true);
  EXPECT_EQ(CheckIndex(), 1u);
  EXPECT_EQ(PointCfg(1).exec_cnt, 1u);
  // Fewer matches than repeat_cnt: c moves the flow on, with b not reported missing.
  Engine()->Trace("F", "c", true);
  EXPECT_EQ(CheckIndex(), 3u);
  EXPECT_EQ(Take(), Events{});
}

TEST_F(RunningCheck, repeat_max_below_repeat_cnt_holds_the_flow_for_good) {
  Load(FlowF("", "repeat_cnt: 3, repeat_max: 2", ""));
  Engine()->Trace("F", "a", true);
  for (int i = 0; i < 5; ++i) {
    Engine()->Trace("F", "b", true);
  }
  EXPECT_EQ(PointCfg(1).exec_cnt, 2u);
  EXPECT_EQ(CheckIndex(), 1u);
}

TEST_F(RunningCheck, match_count_saturates_instead_of_wrapping) {
  Load(FlowF("", "repeat_cnt: 3", ""));
  PointCfg(1).exec_cnt = std::numeric_limits<uint32_t>::max();
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "b", true);
  EXPECT_EQ(PointCfg(1).exec_cnt, std::numeric_limits<uint32_t>::max());
  EXPECT_EQ(CheckIndex(), 2u);
}

TEST_F(RunningCheck, repeated_point_times_out_only_beyond_timeout_ms) {
  Load(FlowF("", "event_id: 5, repeat_cnt: 2, timeout_ms: 100, on_timeout: true", ""));
  CapturedLog log;
  Engine()->Trace("F", PointAt("a", 1000));
  Engine()->Trace("F", PointAt("b", 1100));
  EXPECT_EQ(Take(), Events{});
  Engine()->Trace("F", PointAt("b", 1201, false));
  const auto lines = log.Lines();
  EXPECT_TRUE(HasLine(lines, "[INFO] duration: '100'"));
  EXPECT_TRUE(HasLine(lines, "[INFO] duration: '101'"));
  // No metadata on a timeout; the failure report follows it.
  EXPECT_EQ(Take(), (Events{{1, 5, "bTimeout"}, {1, 5, "Status Failed: b"}}));
  EXPECT_EQ(CheckIndex(), 2u);
}

TEST_F(RunningCheck, clock_stepped_back_is_no_timeout) {
  Load(FlowF("", "event_id: 5, repeat_cnt: 2, timeout_ms: 100, on_timeout: true", ""));
  CapturedLog log;
  Engine()->Trace("F", PointAt("a", 5000));
  Engine()->Trace("F", PointAt("b", 4000));
  EXPECT_TRUE(HasLine(log.Lines(), "[INFO] duration: '0'"));
  EXPECT_EQ(Take(), Events{});
}

TEST_F(RunningCheck, timing_needs_a_previous_point_event_id_and_on_timeout) {
  Load(R"(
workflows:
  - flow_id: first
    flow_points: [{point_id: p, event_id: 5, repeat_cnt: 2, timeout_ms: 1, on_timeout: true}]
  - flow_id: silent
    flow_points: [{point_id: p, event_id: 5, repeat_cnt: 2, timeout_ms: 1}]
  - flow_id: no_id
    flow_points: [{point_id: p, repeat_cnt: 2, timeout_ms: 1, on_timeout: true}]
)");
  CapturedLog log;
  Engine()->Trace("first", PointAt("p", 1000));
  for (const char* flow : {"silent", "no_id"}) {
    Engine()->Trace(flow, PointAt("p", 1000));
    Engine()->Trace(flow, PointAt("p", 9000));
  }
  // The first point of a queue has nothing to be timed against; the others
  // are timed even when they cannot report.
  std::vector<std::string> durations;
  for (const auto& line : log.Lines()) {
    if (line.rfind("[INFO] duration:", 0) == 0) {
      durations.push_back(line);
    }
  }
  EXPECT_EQ(durations,
            (std::vector<std::string>{"[INFO] duration: '8000'", "[INFO] duration: '8000'"}));
  EXPECT_EQ(Take(), Events{});
}

TEST_F(RunningCheck, one_call_stamps_both_its_events_alike) {
  Load(FlowF("", "event_id: 5, repeat_cnt: 2, timeout_ms: 100, on_timeout: true, on_success: true",
             ""));
  Engine()->Trace("F", PointAt("a", 1000));
  Take();
  Engine()->Trace("F", PointAt("b", 2000));
  ASSERT_EQ(Sent().size(), 2u);
  EXPECT_EQ(Sent()[0].event.stamp, Sent()[1].event.stamp);
  EXPECT_EQ(Take(), (Events{{1, 5, "bTimeout"}, {0, 5, "Status OK: b"}}));
}

TEST_F(RunningCheck, metadata_text_lists_every_pair) {
  Load(FlowF("", "event_id: 12", ""));
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "b", false, {{"arm", "left"}, {"tool", "gripper"}});
  const Events events = Take();
  ASSERT_EQ(events.size(), 1u);
  const std::string& text = std::get<2>(events.front());
  EXPECT_TRUE(text == "Status Failed: b,arm:left;tool:gripper;" ||
              text == "Status Failed: b,tool:gripper;arm:left;")
      << text;
}

TEST_F(RunningCheck, event_is_logged_even_when_nothing_can_publish) {
  TempFile file(FlowF("", "", ""));
  PublishCallback none;
  Engine()->Init(file.path(), none);
  CapturedLog log;
  Engine()->Trace("F", "x", true);
  EXPECT_TRUE(HasLine(log.Lines(), "[INFO] ROS2 topic pub: 'Status Failed, undefined point: x'"));
}

TEST_F(RunningCheck, publish_callback_calling_back_into_the_engine_is_refused) {
  TempFile file(FlowF("", "", ""));
  auto inner_calls = std::make_shared<int>(0);
  PublishCallback reentrant = [inner_calls](const std::string&, const DiagnosticEvent&) {
    ++*inner_calls;
    Engine()->Trace("F", "a", true);
    return true;
  };
  Engine()->Init(file.path(), reentrant);
  CapturedLog log;
  // A deadlock must fail the test, not hang it.
  auto done = std::make_shared<std::promise<void>>();
  auto finished = done->get_future();
  std::thread([done] {
    Engine()->Trace("F", "x", true);
    done->set_value();
  }).detach();
  ASSERT_EQ(finished.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const auto lines = log.Lines();
  EXPECT_EQ(*inner_calls, 1);
  EXPECT_TRUE(HasLine(lines,
                      "[ERROR] Trace refused: called from a flow handler or publish callback "
                      "while the engine is locked"));
  EXPECT_EQ(Engine()->GetTracePoints("F").size(), 1u);
}

TEST(RunningCheckOnNode, events_reach_a_subscriber_of_the_flow_topic) {
  if (!rclcpp::ok()) {
    rclcpp::init(0, nullptr);
  }
  auto node = std::make_shared<rclcpp::Node>("running_check_test");
  TempFile file(R"(
workflows:
  - flow_id: F
    diag_topic: /running_check_events
    flow_points:
      - {point_id: a, event_id: 21, on_success: true}
      - {point_id: b, event_id: 22}
)");
  Engine()->Init(file.path(), node);
  std::vector<DiagnosticEvent> received;
  auto subscription = node->create_subscription<DiagnosticEvent>(
      "/running_check_events", rclcpp::QoS(10),
      [&received](const DiagnosticEvent& event) { received.push_back(event); });

  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "x", true, {{"k", "v"}});
  Engine()->Trace("F", "b", false);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (received.size() < 3 && std::chrono::steady_clock::now() < deadline) {
    rclcpp::spin_some(node);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Events events;
  for (const auto& event : received) {
    EXPECT_EQ(event.source_id, "F");
    events.emplace_back(event.status, event.id, event.msg);
  }
  EXPECT_EQ(events, (Events{{0, 21, "Status OK: a"},
                            {1, 22, "Status Failed, undefined point: x,k:v;"},
                            {1, 22, "Status Failed: b"}}));
}

}  // namespace

namespace {

// Each run and the typed fields of the events it sends: readers take what an
// event is from these, never from its text.
TEST_F(RunningCheck, events_carry_their_kind_point_verdict_and_duration) {
  using Kind = kestrune::trace::report::EventKind;
  struct Typed {
    Kind kind;
    std::string point_id;
    uint8_t verdict;
    uint64_t duration_ms;
    bool operator==(const Typed& other) const {
      return kind == other.kind && point_id == other.point_id && verdict == other.verdict &&
             duration_ms == other.duration_ms;
    }
  };
  const int64_t t0 = 1700000000000;
  const auto trace = [](const std::string& point, int64_t at, bool success = true) {
    Engine()->Trace("F", PointAt(point, at, success));
  };
  const struct {
    const char* name;
    std::string config;
    std::function<void()> run;
    std::vector<Typed> events;
  } cases[] = {
      {"a success and a failure report",
       FlowF("event_id: 10, on_success: true", "event_id: 11", ""),
       [&] {
         trace("a", t0);
         trace("b", t0 + 1, false);
       },
       {{Kind::kPoint, "a", 0, 0}, {Kind::kPoint, "b", 0, 0}}},
      {"a late repeat",
       FlowF("", "", "event_id: 13, repeat_cnt: 2, timeout_ms: 10, on_timeout: true"),
       [&] {
         trace("a", t0);
         trace("b", t0);
         trace("c", t0);
         trace("c", t0 + 50);
       },
       {{Kind::kTimeout, "c", 0, 0}}},
      {"a missing and a duplicated point",
       FlowF("", "", ""),
       [&] {
         trace("a", t0);
         trace("c", t0);
         trace("c", t0);
       },
       {{Kind::kPoint, "b", 0, 0}, {Kind::kPoint, "c", 0, 0}}},
      {"a verdict: the run's outcome and length",
       FlowF("", "", ""),
       [&] {
         trace("a", t0);
         trace("b", t0 + 40);
         trace("c", t0 + 250);
         Engine()->CheckFlow("F");
         Engine()->ResetFlow("F");
         trace("a", t0);
         trace("a", t0 + 5);
         Engine()->CheckFlow("F");
       },
       {{Kind::kVerdict, "", 0, 250},
        {Kind::kPoint, "a", 0, 0},
        {Kind::kVerdict, "a",
         static_cast<uint8_t>(kestrune::trace::FlowCheckStatus::DUPLICATED_POINT), 5}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Load(c.config);
    c.run();
    std::vector<Typed> events;
    for (const auto& sent : Sent()) {
      events.push_back({static_cast<Kind>(sent.event.kind), sent.event.point_id, sent.event.verdict,
                        sent.event.duration_ms});
    }
    Take();
    EXPECT_TRUE(events == c.events) << events.size() << " events";
  }
}

}  // namespace
