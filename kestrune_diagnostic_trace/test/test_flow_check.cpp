#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <kestrune_diagnostic_trace/logger.hpp>

#include "support/captured_log.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::DiagnosticEvent;
using kestrune::trace::FlowCheckResult;
using kestrune::trace::FlowCheckStatus;
using kestrune::trace::FlowTrace;
using kestrune::trace::PublishCallback;
using kestrune::trace::TraceFlowCfg;
using kestrune::trace::TracePoint;
using kestrune::trace::TracePointCfg;
using kestrune_test::CapturedLog;
using kestrune_test::HasLine;
using kestrune_test::TempFile;
using namespace std::chrono_literals;

const char kFlow[] = "pick";
const char kTopic[] = "diag_pick";

struct Published {
  std::string topic;
  DiagnosticEvent event;
};

/// The handler's view at the time of its call; the result object itself changes afterwards.
struct HandlerCall {
  std::string flow_id;
  FlowCheckStatus status;
  std::shared_ptr<TracePoint> failure_point;
  std::shared_ptr<TracePointCfg> desired_point;
  const FlowCheckResult* result;
};

/// What the engine handed out. Static, because the engine keeps the callback beyond a test.
struct Outbox {
  std::vector<Published> events;
  std::vector<HandlerCall> calls;
};

Outbox& Sent() {
  static Outbox outbox;
  return outbox;
}

FlowTrace& Engine() {
  return *FlowTrace::GetInstance();
}

/// Every event goes to the outbox and leaves a line, so its place among the log lines shows.
void InitWithCallback(PublishCallback callback = [](const std::string& topic,
                                                    const DiagnosticEvent& event) {
  KLOG_INFO("sink received '{}'", event.msg);
  Sent().events.push_back({topic, event});
  return true;
}) {
  static TempFile no_flows("workflows: []\n");
  Engine().Init(no_flows.path(), callback);
}

void RecordHandlerCalls() {
  Engine().RegisterFlowHandler(
      kFlow, [](const std::string& flow_id, const std::shared_ptr<FlowCheckResult>& result) {
        Sent().calls.push_back(
            {flow_id, result->status, result->failure_point, result->desired_point, result.get()});
      });
}

/// Critical points in order; the n-th (from 0) has event id 11 + n.
std::shared_ptr<TraceFlowCfg> RegisterFlow(const std::vector<std::string>& point_ids,
                                           bool check_order = true) {
  auto flow = std::make_shared<TraceFlowCfg>();
  flow->flow_id = kFlow;
  flow->diag_topic = kTopic;
  flow->check_order = check_order;
  uint32_t event_id = 11;
  for (const auto& id : point_ids) {
    auto point = std::make_shared<TracePointCfg>(id);
    point->is_critical = true;
    point->event_id = event_id++;
    flow->flow_points.push_back(point);
  }
  Engine().RegisterTraceFlow(flow);
  return flow;
}

TracePointCfg& PointOf(const std::shared_ptr<TraceFlowCfg>& flow, const std::string& id) {
  for (const auto& point : flow->flow_points) {
    if (point->point_id == id) {
      return *point;
    }
  }
  throw std::invalid_argument("no configured point " + id);
}

/// Records the ids in order; a trailing '!' records the point as failed.
void Record(const std::vector<std::string>& ids) {
  for (const auto& id : ids) {
    const bool failed = !id.empty() && id.back() == '!';
    Engine().Trace(kFlow, failed ? id.substr(0, id.size() - 1) : id, !failed);
  }
}

std::string DesiredId(const FlowCheckResult& result) {
  return result.desired_point ? result.desired_point->point_id : "(none)";
}

int64_t FailureIndex(const FlowCheckResult& result) {
  return result.failure_point ? result.failure_point->index : -1;
}

struct Outcome {
  std::shared_ptr<FlowCheckResult> result;
  std::vector<std::string> lines;
  std::vector<Published> events;
  std::vector<HandlerCall> calls;
};

/// Only what the check itself sends and logs; recording may publish too.
Outcome Check(const std::string& flow_id = kFlow) {
  Sent() = Outbox();
  Outcome outcome;
  CapturedLog log;
  outcome.result = Engine().CheckFlow(flow_id);
  outcome.lines = log.Lines();
  outcome.events = Sent().events;
  outcome.calls = Sent().calls;
  return outcome;
}

::testing::AssertionResult HasInOrder(const std::vector<std::string>& lines,
                                      const std::vector<std::string>& expected) {
  size_t next = 0;
  for (const auto& line : lines) {
    if (next < expected.size() && line == expected[next]) {
      ++next;
    }
  }
  if (next == expected.size()) {
    return ::testing::AssertionSuccess();
  }
  auto failure = ::testing::AssertionFailure()
                 << "missing or out of order: \"" << expected[next] << "\"; log was:";
  for (const auto& line : lines) {
    failure << "\n  " << line;
  }
  return failure;
}

size_t CountStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  size_t count = 0;
  for (const auto& line : lines) {
    count += line.rfind(prefix, 0) == 0 ? 1 : 0;
  }
  return count;
}

size_t PublicationLines(const std::vector<std::string>& lines) {
  return CountStartingWith(lines, "[INFO] ROS2 topic pub: ") +
         CountStartingWith(lines, "[INFO] Publish Ros2 diag event, ");
}

/// Runs `work` on another thread; a deadlock aborts the suite instead of hanging it.
template <typename Work>
void RunWithDeadline(const char* what, Work work) {
  auto done = std::async(std::launch::async, std::move(work));
  if (done.wait_for(10s) != std::future_status::ready) {
    std::fprintf(stderr, "%s did not finish: the engine is deadlocked\n", what);
    std::abort();
  }
  done.get();
}

class FlowCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWithCallback();
    RecordHandlerCalls();
  }
};

// The ordered comparison, path by path, on the critical points a (11), b (12), c (13).

struct OrderedCase {
  const char* name;
  std::vector<std::string> recorded;
  std::vector<std::string> optional;
  FlowCheckStatus status;
  int failure_index;  // queue index of failure_point, -1 for none
  const char* desired;
  const char* text;  // the one published event, "" for none
  int32_t id;
  std::vector<FlowCheckStatus> calls;  // handler calls in order
  std::vector<std::string> lines;      // these appear in this order
};

void PrintTo(const OrderedCase& c, std::ostream* os) {
  *os << c.name;
}

class OrderedPath : public FlowCheckTest, public ::testing::WithParamInterface<OrderedCase> {};

TEST_P(OrderedPath, gives_status_pointers_event_and_handler_calls) {
  const OrderedCase& c = GetParam();
  auto flow = RegisterFlow({"a", "b", "c"});
  for (const auto& id : c.optional) {
    PointOf(flow, id).is_critical = false;
  }
  Record(c.recorded);

  const Outcome out = Check();

  ASSERT_TRUE(out.result);
  EXPECT_EQ(out.result->status, c.status);
  if (c.failure_index < 0) {
    EXPECT_FALSE(out.result->failure_point);
  } else {
    ASSERT_TRUE(out.result->failure_point);
    EXPECT_EQ(out.result->failure_point, Engine().GetTracePoints(kFlow).at(c.failure_index));
  }
  if (std::string(c.desired).empty()) {
    EXPECT_FALSE(out.result->desired_point);
  } else {
    EXPECT_EQ(out.result->desired_point.get(), &PointOf(flow, c.desired));
  }

  ASSERT_EQ(out.calls.size(), c.calls.size());
  for (size_t n = 0; n < c.calls.size(); ++n) {
    EXPECT_EQ(out.calls[n].status, c.calls[n]) << "handler call " << n;
    EXPECT_EQ(out.calls[n].flow_id, kFlow);
    EXPECT_EQ(out.calls[n].result, out.result.get());
  }

  ASSERT_EQ(out.events.size(), 1u);
  const Published& sent = out.events.front();
  EXPECT_EQ(sent.topic, kTopic);
  EXPECT_EQ(sent.event.source_id, kFlow);
  EXPECT_EQ(sent.event.msg, c.text);
  EXPECT_EQ(sent.event.id, c.id);
  EXPECT_EQ(sent.event.status, c.status == FlowCheckStatus::SUCCESS ? 0 : 1);
  EXPECT_EQ(PublicationLines(out.lines), 1u);
  EXPECT_TRUE(HasInOrder(out.lines, c.lines));
}

std::string Sink(const std::string& text) {
  return "[INFO] sink received '" + text + "'";
}
std::string TopicPub(const std::string& text) {
  return "[INFO] ROS2 topic pub: '" + text + "'";
}
std::string Announce(int32_t id, const std::string& text) {
  return "[INFO] Publish Ros2 diag event, status: 1, id: " + std::to_string(id) + ", msg: " + text;
}

const std::string kSucceed = "Succeed flow: pick";

INSTANTIATE_TEST_SUITE_P(
    FlowCheck, OrderedPath,
    ::testing::Values(
        OrderedCase{"in_order_passes",
                    {"a", "b", "c"},
                    {},
                    FlowCheckStatus::SUCCESS,
                    -1,
                    "",
                    "Succeed flow: pick",
                    13,
                    {FlowCheckStatus::SUCCESS},
                    {"[INFO] Flow 'pick' check passed", TopicPub(kSucceed), Sink(kSucceed)}},
        OrderedCase{"skipped_point_is_missing",
                    {"a", "c"},
                    {},
                    FlowCheckStatus::MISSING_POINT,
                    -1,
                    "b",
                    "Status Failed, point b missing in flow pick",
                    12,
                    {FlowCheckStatus::MISSING_POINT},
                    {"[INFO] Flow 'pick' trace point 'b' missing",
                     "[WARN] Flow 'pick' trace point 'c' not match config 'b'",
                     "[ERROR] Status Failed, point b missing in flow pick",
                     Announce(12, "Status Failed, point b missing in flow pick"),
                     Sink("Status Failed, point b missing in flow pick")}},
        OrderedCase{"repeated_point_is_duplicated",
                    {"a", "a", "b", "c"},
                    {},
                    FlowCheckStatus::DUPLICATED_POINT,
                    1,
                    "b",
                    "Status Failed, point a duplicated in flow pick",
                    12,
                    {FlowCheckStatus::DUPLICATED_POINT},
                    {"[INFO] Flow 'pick' trace point 'a' duplicated",
                     "[WARN] Flow 'pick' trace point 'a' not match config 'b'",
                     "[ERROR] Status Failed, point a duplicated in flow pick",
                     Announce(12, "Status Failed, point a duplicated in flow pick"),
                     Sink("Status Failed, point a duplicated in flow pick")}},
        OrderedCase{"stray_point_before_the_expected_one_is_invalid",
                    {"a", "x", "b", "c"},
                    {},
                    FlowCheckStatus::INVALID_POINT,
                    1,
                    "b",
                    "Status Failed, point x invalid in flow pick",
                    12,
                    {FlowCheckStatus::INVALID_POINT},
                    {"[INFO] Flow 'pick' trace point 'x' invalid",
                     "[WARN] Flow 'pick' trace point 'x' not match config 'b'",
                     "[ERROR] Status Failed, point x invalid in flow pick",
                     Announce(12, "Status Failed, point x invalid in flow pick")}},
        OrderedCase{"swapped_points_report_the_missing_one",
                    {"a", "c", "b"},
                    {},
                    FlowCheckStatus::MISSING_POINT,
                    -1,
                    "b",
                    "Status Failed, point b missing in flow pick",
                    12,
                    {FlowCheckStatus::MISSING_POINT},
                    {"[INFO] Flow 'pick' trace point 'b' missing"}},
        OrderedCase{"unrelated_point_is_an_order_error",
                    {"a", "x", "y"},
                    {},
                    FlowCheckStatus::INVALID_ORDER,
                    1,
                    "b",
                    "Status Failed, point x error in flow pick",
                    12,
                    {FlowCheckStatus::INVALID_ORDER},
                    {"[INFO] Flow 'pick' trace point 'x' order error",
                     "[WARN] Flow 'pick' trace point 'x' not match config 'b'",
                     "[ERROR] Status Failed, point x error in flow pick",
                     Announce(12, "Status Failed, point x error in flow pick")}},
        OrderedCase{"point_after_the_last_is_not_in_config",
                    {"a", "b", "c", "d"},
                    {},
                    FlowCheckStatus::INVALID_POINT,
                    3,
                    "",
                    "Status Failed, point d invalid in flow pick",
                    0,
                    {FlowCheckStatus::INVALID_POINT},
                    {"[WARN] Point 'd' not in flow config",
                     Sink("Status Failed, point d invalid in flow pick"),
                     TopicPub("Status Failed, point d invalid in flow pick")}},
        OrderedCase{"critical_point_missing_at_the_end",
                    {"a", "b"},
                    {},
                    FlowCheckStatus::MISSING_POINT,
                    -1,
                    "c",
                    "Status Failed, point c missing in flow pick",
                    13,
                    {FlowCheckStatus::MISSING_POINT},
                    {"[ERROR] Flow 'pick' trace point 'c' missing",
                     Sink("Status Failed, point c missing in flow pick"),
                     TopicPub("Status Failed, point c missing in flow pick")}},
        OrderedCase{"optional_point_missing_at_the_end_passes",
                    {"a", "b"},
                    {"c"},
                    FlowCheckStatus::SUCCESS,
                    -1,
                    "",
                    "Succeed flow: pick",
                    13,
                    {FlowCheckStatus::SUCCESS},
                    {"[INFO] Flow 'pick' check passed"}},
        OrderedCase{"critical_point_recorded_as_failed",
                    {"a", "b!", "c"},
                    {},
                    FlowCheckStatus::FAILED,
                    1,
                    "b",
                    "Status Failed, point b failed in flow pick",
                    12,
                    {FlowCheckStatus::FAILED},
                    {"[ERROR] Point 'b' failed in flow 'pick'",
                     Sink("Status Failed, point b failed in flow pick"),
                     TopicPub("Status Failed, point b failed in flow pick")}},
        OrderedCase{
            "optional_point_recorded_as_failed_passes",
            {"a", "b!", "c"},
            {"b"},
            FlowCheckStatus::SUCCESS,
            -1,
            "",
            "Succeed flow: pick",
            13,
            {FlowCheckStatus::SUCCESS},
            {"[WARN] Optional point 'b' failed in flow 'pick'", "[INFO] Flow 'pick' check passed"}},
        OrderedCase{
            "optional_point_missing_calls_the_handler_twice_and_passes",
            {"a", "c"},
            {"b"},
            FlowCheckStatus::SUCCESS,
            -1,
            "b",
            "Succeed flow: pick",
            13,
            {FlowCheckStatus::MISSING_POINT, FlowCheckStatus::SUCCESS},
            {"[INFO] Flow 'pick' trace point 'b' missing",
             "[WARN] Flow 'pick' trace point 'c' not match config 'b'",
             "[WARN] Optional flow point error: Status Failed, point b missing in flow pick",
             "[INFO] Flow 'pick' check passed", TopicPub(kSucceed), Sink(kSucceed)}},
        OrderedCase{"optional_mismatch_skips_the_recording_and_keeps_it",
                    {"a", "a", "c"},
                    {"b"},
                    FlowCheckStatus::SUCCESS,
                    1,
                    "b",
                    "Succeed flow: pick",
                    13,
                    {FlowCheckStatus::DUPLICATED_POINT, FlowCheckStatus::SUCCESS},
                    {"[WARN] Optional flow point error: Status Failed, point a duplicated in flow "
                     "pick",
                     "[INFO] Flow 'pick' check passed"}},
        OrderedCase{
            "failure_after_an_optional_mismatch_is_terminal",
            {"a", "c!"},
            {"b"},
            FlowCheckStatus::FAILED,
            1,
            "c",
            "Status Failed, point c failed in flow pick",
            13,
            {FlowCheckStatus::MISSING_POINT, FlowCheckStatus::FAILED},
            {"[WARN] Optional flow point error: Status Failed, point b missing in flow pick",
             "[ERROR] Point 'c' failed in flow 'pick'"}}),
    [](const ::testing::TestParamInfo<OrderedCase>& info) { return std::string(info.param.name); });

TEST_F(FlowCheckTest, logs_the_recorded_and_configured_sequences_with_metadata) {
  auto flow = RegisterFlow({"a", "b", "c"});
  PointOf(flow, "b").is_critical = false;
  Engine().Trace(kFlow, "a", true);
  Engine().Trace(kFlow, "b", true, {{"arm", "left"}});
  Engine().Trace(kFlow, "c", true);

  const Outcome out = Check();

  ASSERT_FALSE(out.lines.empty());
  EXPECT_EQ(out.lines.front(), "[INFO] Check flow: pick");
  EXPECT_TRUE(
      HasInOrder(out.lines, {"[INFO] Flow 'pick' has trace point 'b' metadata 'arm' = 'left'",
                             "[INFO] Flow 'pick' trace points: (a) -> (b) -> (c)",
                             "[INFO] Flow 'pick' trace config: <a> -> [b] -> <c>"}));
}

TEST_F(FlowCheckTest, empty_diag_topic_silences_announcements_and_success_but_not_reports) {
  auto flow = RegisterFlow({"a", "b", "c"});
  flow->diag_topic.clear();
  Record({"a", "c"});
  Outcome out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::MISSING_POINT);
  EXPECT_EQ(out.calls.size(), 1u);
  EXPECT_TRUE(out.events.empty());
  EXPECT_EQ(PublicationLines(out.lines), 0u);

  Engine().ResetFlow(kFlow);
  Record({"a", "b", "c"});
  out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::SUCCESS);
  EXPECT_EQ(out.calls.size(), 1u);
  EXPECT_TRUE(out.events.empty());
  EXPECT_EQ(PublicationLines(out.lines), 0u);

  // Publish-then-report ignores the topic: the callback gets the empty one.
  Record({"d"});
  out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::INVALID_POINT);
  ASSERT_EQ(out.events.size(), 1u);
  EXPECT_EQ(out.events.front().topic, "");
  EXPECT_TRUE(HasLine(out.lines, TopicPub("Status Failed, point d invalid in flow pick")));
}

TEST_F(FlowCheckTest, report_is_logged_even_with_nowhere_to_publish) {
  InitWithCallback(PublishCallback());
  RegisterFlow({"a"});
  Record({"a", "z"});
  const Outcome out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::INVALID_POINT);
  EXPECT_TRUE(HasLine(out.lines, TopicPub("Status Failed, point z invalid in flow pick")));
}

TEST_F(FlowCheckTest, flow_event_id_overrides_point_ids_for_failures_and_success) {
  auto flow = RegisterFlow({"a", "b", "c"});
  flow->event_id = 7;
  const std::vector<std::vector<std::string>> runs = {
      {"a", "c"}, {"a", "b!", "c"}, {"a", "b"}, {"a", "b", "c", "d"}, {"a", "b", "c"}};
  for (const auto& run : runs) {
    Engine().ResetFlow(kFlow);
    Record(run);
    const Outcome out = Check();
    ASSERT_EQ(out.events.size(), 1u) << run.size();
    EXPECT_EQ(out.events.front().event.id, 7) << out.events.front().event.msg;
  }
}

TEST_F(FlowCheckTest, event_carries_the_stamp_taken_when_the_check_began) {
  RegisterFlow({"a"});
  Record({"a"});
  const auto seconds_now = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  const auto before = seconds_now();
  const Outcome out = Check();
  const auto after = seconds_now();
  ASSERT_EQ(out.events.size(), 1u);
  EXPECT_GE(out.events.front().event.stamp.sec, before);
  EXPECT_LE(out.events.front().event.stamp.sec, after);
}

// The unordered comparison.

TEST_F(FlowCheckTest, unordered_flow_passes_in_any_order_and_reports_missing_points) {
  RegisterFlow({"a", "b"}, false);
  Record({"b", "a"});
  Outcome out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::SUCCESS);
  EXPECT_TRUE(HasInOrder(out.lines, {"[INFO] All points executed in flow 'pick'",
                                     "[INFO] Flow 'pick' check passed", TopicPub(kSucceed)}));
  ASSERT_EQ(out.events.size(), 1u);
  EXPECT_EQ(out.events.front().event.id, 12);

  Engine().ResetFlow(kFlow);
  Record({"a"});
  out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::MISSING_POINT);
  EXPECT_FALSE(out.result->failure_point);
  EXPECT_EQ(DesiredId(*out.result), "b");
  EXPECT_EQ(out.calls.size(), 1u);
  EXPECT_TRUE(HasInOrder(out.lines, {"[ERROR] Critical point 'b' not executed in flow 'pick'",
                                     Sink("Status Failed, point b missing in flow pick"),
                                     TopicPub("Status Failed, point b missing in flow pick")}));
  ASSERT_EQ(out.events.size(), 1u);
  EXPECT_EQ(out.events.front().event.id, 12);
  EXPECT_EQ(out.events.front().event.status, 1);
}

TEST_F(FlowCheckTest, unordered_flow_reports_one_leftover_recording) {
  RegisterFlow({"a", "b"}, false);
  Record({"a", "b", "z"});
  const Outcome out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::INVALID_POINT);
  EXPECT_EQ(out.result->failure_point, Engine().GetTracePoints(kFlow).at(2));
  EXPECT_FALSE(out.result->desired_point);
  EXPECT_EQ(out.calls.size(), 1u);
  EXPECT_TRUE(HasInOrder(out.lines, {"[ERROR] Some points not in flow 'pick' executed: ",
                                     "[WARN] Point 'z' not in flow config",
                                     TopicPub("Status Failed, point z invalid in flow pick")}));
  ASSERT_EQ(out.events.size(), 1u);
  EXPECT_EQ(out.events.front().event.id, 0);
}

TEST_F(FlowCheckTest, unordered_lookup_takes_the_latest_recording_first) {
  RegisterFlow({"a", "b"}, false);
  Record({"a!", "a", "b"});
  Outcome out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::INVALID_POINT);
  EXPECT_EQ(out.result->failure_point, Engine().GetTracePoints(kFlow).at(0));

  Engine().ResetFlow(kFlow);
  Record({"a", "a!", "b"});
  out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::FAILED);
  EXPECT_EQ(out.result->failure_point, Engine().GetTracePoints(kFlow).at(1));
  EXPECT_EQ(DesiredId(*out.result), "a");
  EXPECT_TRUE(HasLine(out.lines, "[ERROR] Point 'a' failed in flow 'pick'"));
}

TEST_F(FlowCheckTest, unordered_optional_points_may_fail_or_be_absent) {
  auto flow = RegisterFlow({"a", "b"}, false);
  PointOf(flow, "b").is_critical = false;
  Record({"a"});
  EXPECT_EQ(Check().result->status, FlowCheckStatus::SUCCESS);
  Record({"b!"});
  EXPECT_EQ(Check().result->status, FlowCheckStatus::SUCCESS);
}

// Flows that cannot be checked.

TEST_F(FlowCheckTest, unregistered_or_empty_flow_is_invalid_without_handler_or_event) {
  Outcome out = Check("nope");
  EXPECT_EQ(out.result->status, FlowCheckStatus::INVALID_FLOW);
  EXPECT_TRUE(HasLine(out.lines, "[WARN] Flow with ID 'nope' not found"));
  EXPECT_TRUE(out.calls.empty());
  EXPECT_TRUE(out.events.empty());

  RegisterFlow({"a"});
  out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::INVALID_FLOW);
  EXPECT_TRUE(HasLine(out.lines, "[WARN] Flow with ID 'pick' is empty"));
  EXPECT_TRUE(out.calls.empty());
  EXPECT_TRUE(out.events.empty());

  RegisterFlow({});
  Record({"a"});
  out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::INVALID_FLOW);
  EXPECT_TRUE(HasLine(out.lines, "[WARN] Flow with ID 'pick' is empty"));
  EXPECT_TRUE(out.calls.empty());
  EXPECT_TRUE(out.events.empty());
}

TEST_F(FlowCheckTest, repeated_check_changes_nothing_and_repeats_itself) {
  auto flow = RegisterFlow({"a", "b", "c"});
  PointOf(flow, "b").is_critical = false;
  PointOf(flow, "c").repeat_cnt = 2;
  Record({"a", "c", "c", "d"});
  PointOf(flow, "c").exec_cnt = 2;
  const auto queue = Engine().GetTracePoints(kFlow);
  const uint32_t check_index = flow->check_index;

  const Outcome first = Check();
  const Outcome second = Check();

  EXPECT_EQ(first.result->status, FlowCheckStatus::INVALID_POINT);
  EXPECT_EQ(first.result->failure_point, queue.at(3));
  EXPECT_EQ(second.lines, first.lines);
  ASSERT_EQ(second.calls.size(), 2u);
  ASSERT_EQ(first.calls.size(), 2u);
  for (size_t n = 0; n < 2; ++n) {
    EXPECT_EQ(second.calls[n].status, first.calls[n].status);
  }
  ASSERT_EQ(first.events.size(), 1u);
  ASSERT_EQ(second.events.size(), 1u);
  DiagnosticEvent again = second.events.front().event;
  again.stamp = first.events.front().event.stamp;
  EXPECT_EQ(again, first.events.front().event);

  EXPECT_EQ(Engine().GetTracePoints(kFlow), queue);
  EXPECT_EQ(flow->check_index, check_index);
  EXPECT_EQ(PointOf(flow, "c").exec_cnt, 2u);
}

// Call-outs run under the engine lock.

TEST_F(FlowCheckTest, handler_exception_reaches_the_caller_and_releases_the_engine) {
  RegisterFlow({"a"});
  Record({"a"});
  Engine().RegisterFlowHandler(kFlow,
                               [](const std::string&, const std::shared_ptr<FlowCheckResult>&) {
                                 throw std::runtime_error("handler broke");
                               });
  EXPECT_THROW(Engine().CheckFlow(kFlow), std::runtime_error);

  // Another thread gets the mutex, and this thread is not taken for a re-entrant caller.
  RecordHandlerCalls();
  RunWithDeadline("CheckFlow from another thread",
                  [] { EXPECT_EQ(Engine().CheckFlow(kFlow)->status, FlowCheckStatus::SUCCESS); });
  const Outcome out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::SUCCESS);
  EXPECT_EQ(out.calls.size(), 1u);
}

TEST_F(FlowCheckTest, publish_callback_exception_reaches_the_caller_and_releases_the_engine) {
  static bool armed = false;
  InitWithCallback([](const std::string&, const DiagnosticEvent&) -> bool {
    if (armed) {
      throw std::runtime_error("transport down");
    }
    return true;
  });
  RegisterFlow({"a", "b", "c"});
  Record({"a", "c"});
  armed = true;
  EXPECT_THROW(Engine().CheckFlow(kFlow), std::runtime_error);
  armed = false;

  RunWithDeadline("CheckFlow from another thread", [] {
    EXPECT_EQ(Engine().CheckFlow(kFlow)->status, FlowCheckStatus::MISSING_POINT);
  });
  EXPECT_EQ(Engine().CheckFlow(kFlow)->status, FlowCheckStatus::MISSING_POINT);
}

TEST_F(FlowCheckTest, reentry_from_handler_or_callback_is_refused_without_deadlock) {
  std::vector<FlowCheckStatus> inner;
  Engine().RegisterFlowHandler(
      kFlow, [&inner](const std::string& flow_id, const std::shared_ptr<FlowCheckResult>&) {
        inner.push_back(Engine().CheckFlow(flow_id)->status);
        Engine().ResetFlow(flow_id);
      });
  InitWithCallback([](const std::string&, const DiagnosticEvent&) {
    Engine().Trace(kFlow, "z", true);
    return true;
  });
  RegisterFlow({"a", "b"});
  Record({"a", "b"});

  Outcome out;
  RunWithDeadline("re-entrant CheckFlow", [&out] { out = Check(); });

  EXPECT_EQ(out.result->status, FlowCheckStatus::SUCCESS);
  EXPECT_EQ(inner, std::vector<FlowCheckStatus>{FlowCheckStatus::INVALID_FLOW});
  const std::string refused =
      " refused: called from a flow handler or publish callback while the engine is locked";
  EXPECT_TRUE(HasInOrder(out.lines, {"[ERROR] CheckFlow" + refused, "[ERROR] ResetFlow" + refused,
                                     "[ERROR] Trace" + refused}));
  const auto& queue = Engine().GetTracePoints(kFlow);
  ASSERT_EQ(queue.size(), 2u);
  EXPECT_EQ(queue.back()->point_id, "b");
}

// The running check keeps exec_cnt; it is set here after recording, so that a run
// may hold fewer repetitions than the count the flow check reads.

TEST_F(FlowCheckTest, repeated_point_is_not_missing_in_a_shorter_later_run) {
  auto flow = RegisterFlow({"a", "b", "c"});
  TracePointCfg& b = PointOf(flow, "b");
  b.repeat_cnt = 3;
  Record({"a", "b", "b", "b", "c"});
  b.exec_cnt = 3;
  EXPECT_EQ(Check().result->status, FlowCheckStatus::SUCCESS);

  Engine().ResetFlow(kFlow);
  Record({"a", "b", "c"});
  b.exec_cnt = 3;
  const Outcome out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::SUCCESS);
  EXPECT_FALSE(out.result->desired_point);
  ASSERT_EQ(out.calls.size(), 1u);
  EXPECT_EQ(CountStartingWith(out.lines, "[WARN] Flow 'pick' trace point"), 0u);  // no mismatch

  // The end of the queue also completes it; what comes after is still judged.
  Engine().ResetFlow(kFlow);
  Record({"a", "b"});
  b.exec_cnt = 3;
  const auto result = Check().result;
  EXPECT_EQ(result->status, FlowCheckStatus::MISSING_POINT);
  EXPECT_EQ(DesiredId(*result), "c");
  PointOf(flow, "c").is_critical = false;
  EXPECT_EQ(Check().result->status, FlowCheckStatus::SUCCESS);
}

TEST_F(FlowCheckTest, repeated_point_still_reports_what_is_wrong) {
  auto flow = RegisterFlow({"a", "b", "c"});
  TracePointCfg& b = PointOf(flow, "b");
  b.repeat_cnt = 3;
  const auto check = [&b](const std::vector<std::string>& run, uint32_t exec_cnt) {
    Engine().ResetFlow(kFlow);
    Record(run);
    b.exec_cnt = exec_cnt;
    return Check().result;
  };

  auto result = check({"a", "c"}, 3);  // never recorded
  EXPECT_EQ(result->status, FlowCheckStatus::MISSING_POINT);
  EXPECT_EQ(DesiredId(*result), "b");

  result = check({"a", "b", "b", "b", "b", "c"}, 3);  // one more than it absorbs
  EXPECT_EQ(result->status, FlowCheckStatus::DUPLICATED_POINT);
  EXPECT_EQ(FailureIndex(*result), 4);
  EXPECT_EQ(DesiredId(*result), "c");

  result = check({"a", "b", "b", "c"}, 1);  // exec_cnt 0 or 1 absorbs one
  EXPECT_EQ(result->status, FlowCheckStatus::DUPLICATED_POINT);
  EXPECT_EQ(FailureIndex(*result), 2);
  result = check({"a", "b", "b", "c"}, 0);
  EXPECT_EQ(result->status, FlowCheckStatus::DUPLICATED_POINT);

  result = check({"a", "b", "x", "c"}, 3);  // a stray point inside the repetitions
  EXPECT_EQ(result->status, FlowCheckStatus::INVALID_ORDER);
  EXPECT_EQ(DesiredId(*result), "b");
}

TEST_F(FlowCheckTest, unordered_repeated_point_takes_up_to_exec_cnt_recordings) {
  auto flow = RegisterFlow({"a", "b"}, false);
  TracePointCfg& b = PointOf(flow, "b");
  b.repeat_cnt = 2;
  b.exec_cnt = 2;
  Record({"a", "b", "b"});
  EXPECT_EQ(Check().result->status, FlowCheckStatus::SUCCESS);

  Engine().ResetFlow(kFlow);
  Record({"a", "b"});
  EXPECT_EQ(Check().result->status, FlowCheckStatus::SUCCESS);

  Engine().ResetFlow(kFlow);
  Record({"a", "b", "b", "b"});
  const auto result = Check().result;
  EXPECT_EQ(result->status, FlowCheckStatus::INVALID_POINT);
  EXPECT_EQ(FailureIndex(*result), 1);  // the latest two were taken
}

// Through a ROS 2 publisher instead of the callback.

TEST_F(FlowCheckTest, node_engine_publishes_on_the_flow_topic) {
  if (!rclcpp::ok()) {
    const char* argv[] = {"test_flow_check"};
    rclcpp::init(1, argv);
  }
  auto node = std::make_shared<rclcpp::Node>("flow_check_test");
  TempFile config(std::string(R"(
workflows:
  - flow_id: pick
    diag_topic: )") +
                  kTopic + R"(
    flow_points:
      - {point_id: a, event_id: 11}
      - {point_id: b, event_id: 12}
      - {point_id: c, event_id: 13}
)");
  Engine().Init(config.path(), node);
  std::vector<DiagnosticEvent> received;
  auto subscription = node->create_subscription<DiagnosticEvent>(
      kTopic, rclcpp::QoS(10),
      [&received](const DiagnosticEvent& event) { received.push_back(event); });
  Record({"a", "c"});

  const std::string text = "Status Failed, point b missing in flow pick";
  const Outcome out = Check();
  EXPECT_EQ(out.result->status, FlowCheckStatus::MISSING_POINT);
  EXPECT_TRUE(out.events.empty());  // a flow with a publisher never reaches the callback
  EXPECT_TRUE(HasLine(out.lines, Announce(12, text)));

  const DiagnosticEvent* found = nullptr;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!found && std::chrono::steady_clock::now() < deadline) {
    rclcpp::spin_some(node);
    for (const auto& event : received) {
      found = event.msg == text ? &event : found;
    }
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(found) << "no event on " << kTopic;
  EXPECT_EQ(found->source_id, kFlow);
  EXPECT_EQ(found->id, 12);
  EXPECT_EQ(found->status, 1);
  EXPECT_NE(found->stamp.sec, 0);

  InitWithCallback();  // the engine lets go of the node and its publisher
}

}  // namespace
