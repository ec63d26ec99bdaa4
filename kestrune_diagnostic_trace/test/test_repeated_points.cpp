// Runs of a flow with a repeated point, each preceded by a reset and followed by
// CheckFlow: the running check's events and the verdict must agree, and a run
// must not depend on the runs before it.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "support/temp_file.hpp"

namespace {

using kestrune::trace::DiagnosticEvent;
using kestrune::trace::FlowCheckResult;
using kestrune::trace::FlowCheckStatus;
using kestrune::trace::FlowTrace;
using kestrune::trace::PublishCallback;
using kestrune_test::TempFile;

/// status, id, text
using Event = std::tuple<int32_t, int32_t, std::string>;
using Events = std::vector<Event>;
using Calls = std::vector<FlowCheckStatus>;

// The heartbeat flow has no duration, so no thread beats into it; Init gives it
// its built-in point (repeat_cnt 100, repeat_max 10, no event id).
const char kConfig[] = R"(
workflows:
  - flow_id: F
    diag_topic: /diag
    flow_points:
      - {point_id: req, event_id: 11}
      - {point_id: seen, event_id: 12, optional: true}
      - {point_id: align, event_id: 13, repeat_cnt: 3, repeat_max: 5}
      - {point_id: contact, event_id: 14, on_success: true}
  - flow_id: heartbeat
    diag_topic: /diag
)";

/// What the engine handed out. Static, because the engine keeps its callbacks beyond a test.
struct Outbox {
  Events events;
  Calls calls;
};

Outbox& Sent() {
  static Outbox outbox;
  return outbox;
}

FlowTrace& Engine() {
  return *FlowTrace::GetInstance();
}

enum class Reset { kFlow, kAllFlows };

struct RunCase {
  const char* name;
  const char* flow_id;
  Reset reset;
  std::vector<std::string> run;  // a trailing '!' records the point as failed
  FlowCheckStatus verdict;
  Events events;  // sent while recording, then by CheckFlow
  Calls calls;
};

void PrintTo(const RunCase& c, std::ostream* os) {
  *os << c.name;
}

class RepeatedPoints : public ::testing::TestWithParam<RunCase> {
 protected:
  void SetUp() override {
    TempFile file(kConfig);
    PublishCallback callback = [](const std::string&, const DiagnosticEvent& event) {
      Sent().events.emplace_back(event.status, event.id, event.msg);
      return true;
    };
    Engine().Init(file.path(), callback);
    for (const char* flow_id : {"F", "heartbeat"}) {
      Engine().RegisterFlowHandler(
          flow_id, [](const std::string&, const std::shared_ptr<FlowCheckResult>& result) {
            Sent().calls.push_back(result->status);
          });
    }
  }
};

TEST_P(RepeatedPoints, every_run_sends_the_same_events_and_verdict) {
  const RunCase& c = GetParam();
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    if (c.reset == Reset::kFlow) {
      Engine().ResetFlow(c.flow_id);
    } else {
      Engine().ResetAllFlows();
    }
    Sent() = Outbox();
    for (const auto& id : c.run) {
      const bool failed = id.back() == '!';
      Engine().Trace(c.flow_id, failed ? id.substr(0, id.size() - 1) : id, !failed);
    }
    EXPECT_EQ(Engine().CheckFlow(c.flow_id)->status, c.verdict);
    EXPECT_EQ(Sent().events, c.events);
    EXPECT_EQ(Sent().calls, c.calls);
  }
}

const Event kContactOk{0, 14, "Status OK: contact"};
const Event kPassed{0, 14, "Succeed flow: F"};
const Event kAlignDuplicated{1, 13, "Status Failed, point duplicated: align"};

INSTANTIATE_TEST_SUITE_P(
    FlowRuns, RepeatedPoints,
    ::testing::Values(
        RunCase{"all_repeats",
                "F",
                Reset::kFlow,
                {"req", "seen", "align", "align", "align", "contact"},
                FlowCheckStatus::SUCCESS,
                {kContactOk, kPassed},
                {FlowCheckStatus::SUCCESS}},
        RunCase{"all_repeats_after_resetting_all_flows",
                "F",
                Reset::kAllFlows,
                {"req", "seen", "align", "align", "align", "contact"},
                FlowCheckStatus::SUCCESS,
                {kContactOk, kPassed},
                {FlowCheckStatus::SUCCESS}},
        // The first align after the skipped optional point is counted, not lost.
        RunCase{"optional_point_skipped",
                "F",
                Reset::kFlow,
                {"req", "align", "align", "align", "contact"},
                FlowCheckStatus::SUCCESS,
                {kContactOk, kPassed},
                {FlowCheckStatus::MISSING_POINT, FlowCheckStatus::SUCCESS}},
        // Recorded, if fewer times than repeat_cnt: never reported missing.
        RunCase{"repeated_point_once",
                "F",
                Reset::kFlow,
                {"req", "seen", "align", "contact"},
                FlowCheckStatus::SUCCESS,
                {kContactOk, kPassed},
                {FlowCheckStatus::SUCCESS}},
        RunCase{"repeated_point_once_after_the_skipped_point",
                "F",
                Reset::kFlow,
                {"req", "align", "contact"},
                FlowCheckStatus::SUCCESS,
                {kContactOk, kPassed},
                {FlowCheckStatus::MISSING_POINT, FlowCheckStatus::SUCCESS}},
        // The point after a skipped critical one is still judged.
        RunCase{"repeated_point_never_recorded",
                "F",
                Reset::kFlow,
                {"req", "seen", "contact"},
                FlowCheckStatus::MISSING_POINT,
                {{1, 13, "Status Failed, point missing: align"},
                 kContactOk,
                 {1, 13, "Status Failed, point align missing in flow F"}},
                {FlowCheckStatus::MISSING_POINT}},
        RunCase{"failed_recording_after_a_skipped_point",
                "F",
                Reset::kFlow,
                {"req", "align!", "align", "align", "contact"},
                FlowCheckStatus::FAILED,
                {{1, 13, "Status Failed: align"},
                 kContactOk,
                 {1, 13, "Status Failed, point align failed in flow F"}},
                {FlowCheckStatus::MISSING_POINT, FlowCheckStatus::FAILED}},
        // repeat_max does not widen repeat_cnt: every align beyond the third is a duplicate.
        RunCase{"repeats_beyond_repeat_max",
                "F",
                Reset::kFlow,
                {"req", "seen", "align", "align", "align", "align", "align", "align", "contact"},
                FlowCheckStatus::DUPLICATED_POINT,
                {kAlignDuplicated,
                 kAlignDuplicated,
                 kAlignDuplicated,
                 kContactOk,
                 {1, 14, "Status Failed, point align duplicated in flow F"}},
                {FlowCheckStatus::DUPLICATED_POINT}},
        // The heartbeat queue survives the reset, and so must the count that absorbs it:
        // the second check sees six beats.
        RunCase{"heartbeat_flow_kept_by_resetting_all_flows",
                "heartbeat",
                Reset::kAllFlows,
                {"heartbeat", "heartbeat", "heartbeat"},
                FlowCheckStatus::SUCCESS,
                {{0, 0, "Succeed flow: heartbeat"}},
                {FlowCheckStatus::SUCCESS}}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

}  // namespace
