#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "flow_model.hpp"
#include "support/monitor.hpp"

namespace {

using kestrune::monitor::FlowModel;
using kestrune::monitor::FlowView;
using kestrune::monitor::ModelLimits;
using kestrune::monitor::PointOutcome;
using kestrune::trace::FlowCheckStatus;
using kestrune_test::FindFlow;
using kestrune_test::FlowEvent;
using kestrune_test::FlowStatus;
using kestrune_test::KindEvent;
using kestrune_test::ManualClock;
using kestrune_test::MonitorConfig;
using kestrune_test::VerdictEvent;
using std::chrono::milliseconds;
using std::chrono::seconds;

FlowView Flow(FlowModel& model, const std::string& flow_id) {
  return FindFlow(model.Changes(0).first, flow_id);
}

std::vector<PointOutcome> Outcomes(const FlowView& flow) {
  std::vector<PointOutcome> outcomes;
  for (const auto& point : flow.points) {
    outcomes.push_back(point.outcome);
  }
  return outcomes;
}

constexpr PointOutcome kNone = PointOutcome::kNone;
constexpr PointOutcome kOk = PointOutcome::kOk;
constexpr PointOutcome kFailed = PointOutcome::kFailed;

TEST(FlowModel, configured_flows_carry_their_points_and_start_stale) {
  ManualClock clock;
  FlowModel model(MonitorConfig(), {}, clock.function());
  const FlowView pick = Flow(model, "pick");
  EXPECT_TRUE(pick.configured);
  EXPECT_EQ(pick.level, "STALE");
  ASSERT_EQ(pick.points.size(), 4U);
  EXPECT_EQ(pick.points[1].point_id, "look");
  EXPECT_FALSE(pick.points[1].critical);
  EXPECT_TRUE(pick.points[2].critical);
  EXPECT_EQ(pick.points[3].event_id, 14U);
}

TEST(FlowModel, level_goes_stale_five_seconds_after_the_last_status_and_back) {
  ManualClock clock;
  FlowModel model(MonitorConfig(), {}, clock.function());
  ASSERT_TRUE(model.AddStatus(FlowStatus("arm", "pick", 2)));
  EXPECT_EQ(Flow(model, "pick").level, "ERROR");

  clock.now += milliseconds(4999);
  auto [views, version] = model.Changes(0);
  EXPECT_EQ(FindFlow(views, "pick").level, "ERROR");

  // Going stale is a change a stream must hear of, though no message came.
  clock.now += milliseconds(1);
  auto stale = model.Changes(version);
  ASSERT_EQ(stale.first.size(), 1U);
  EXPECT_EQ(stale.first[0].level, "STALE");
  EXPECT_GT(stale.second, version);

  ASSERT_TRUE(model.AddStatus(FlowStatus("arm", "pick", 1)));
  EXPECT_EQ(Flow(model, "pick").level, "WARN");
}

TEST(FlowModel, levels_read_as_words) {
  const std::vector<std::pair<uint8_t, std::string>> table = {
      {0, "OK"}, {1, "WARN"}, {2, "ERROR"}, {3, "STALE"}, {7, "ERROR"}};
  for (const auto& [level, word] : table) {
    EXPECT_EQ(kestrune::monitor::LevelWord(level), word) << int(level);
  }
}

TEST(FlowModel, status_fills_node_name_message_and_values) {
  FlowModel model(MonitorConfig());
  model.AddStatus(FlowStatus("arm_node", "pick", 0, {{"last verdict", "SUCCESS"}}));
  const FlowView pick = Flow(model, "pick");
  EXPECT_EQ(pick.node, "arm_node");
  EXPECT_EQ(pick.name, "arm_node: pick");
  EXPECT_EQ(pick.hardware_id, "arm_node");
  EXPECT_EQ(pick.message, "message of pick");
  ASSERT_EQ(pick.values.size(), 3U);
  EXPECT_EQ(pick.values[2].second, "SUCCESS");
}

TEST(FlowModel, statuses_without_a_flow_id_are_ignored) {
  FlowModel model(MonitorConfig());
  kestrune::monitor::StatusReport other;
  other.name = "motor driver: temperature";
  other.values = {{"celsius", "40"}};
  EXPECT_FALSE(model.AddStatus(other));
  EXPECT_EQ(model.FlowCount(), 2U);
  EXPECT_EQ(model.Ignored(), 1U);
}

TEST(FlowModel, unconfigured_flows_are_learned_and_a_second_node_gets_its_own_card) {
  FlowModel model(MonitorConfig());
  EXPECT_TRUE(model.AddStatus(FlowStatus("arm", "pick", 0)));
  EXPECT_TRUE(model.AddStatus(FlowStatus("spare_arm", "pick", 2)));
  EXPECT_TRUE(model.AddStatus(FlowStatus("base", "heartbeat", 0)));
  EXPECT_TRUE(model.AddStatus(FlowStatus("base", "heartbeat", 1)));
  const auto views = model.Changes(0).first;
  ASSERT_EQ(views.size(), 4U);
  // Configured first, each card keeping the node that reported it.
  EXPECT_EQ(views[0].flow_id, "dock");
  EXPECT_EQ(views[1].name, "arm: pick");
  EXPECT_EQ(views[1].level, "OK");
  EXPECT_TRUE(views[1].configured);
  EXPECT_EQ(views[2].name, "base: heartbeat");
  EXPECT_EQ(views[2].level, "WARN");
  EXPECT_EQ(views[3].name, "spare_arm: pick");
  EXPECT_FALSE(views[3].configured);
  EXPECT_EQ(views[3].level, "ERROR");
}

TEST(FlowModel, event_ids_map_to_points_within_the_flow_named_by_the_event) {
  FlowModel model(MonitorConfig());
  model.AddEvent(FlowEvent("dock", 11, 0, "Status OK: approach"));
  model.AddEvent(FlowEvent("pick", 12, 1, "Status Failed: look"));
  EXPECT_EQ(Outcomes(Flow(model, "dock")), (std::vector<PointOutcome>{kOk, kNone}));
  EXPECT_EQ(Outcomes(Flow(model, "pick")),
            (std::vector<PointOutcome>{kNone, kFailed, kNone, kNone}));
  EXPECT_EQ(Flow(model, "dock").events.at(0).point_id, "approach");
  EXPECT_EQ(Flow(model, "pick").events.at(0).point_id, "look");
}

TEST(FlowModel, events_of_unknown_flows_and_unknown_ids_change_no_point) {
  FlowModel model(MonitorConfig());
  EXPECT_FALSE(model.AddEvent(FlowEvent("elsewhere", 11, 0, "Status OK: x")));
  EXPECT_TRUE(model.AddEvent(FlowEvent("pick", 99, 1, "Status Failed: ghost")));
  // The flow's own id names no point, even where a failure reported with it follows one.
  EXPECT_TRUE(model.AddEvent(FlowEvent("pick", 10, 1, "Status Failed, undefined point: x")));
  const FlowView pick = Flow(model, "pick");
  EXPECT_EQ(Outcomes(pick), (std::vector<PointOutcome>(4, kNone)));
  ASSERT_EQ(pick.events.size(), 2U);
  EXPECT_EQ(pick.events[0].point_id, "");
  EXPECT_EQ(model.Ignored(), 1U);
  EXPECT_TRUE(pick.runs.empty());
}

TEST(FlowModel, one_id_configured_twice_marks_its_positions_in_turn) {
  const auto config = kestrune::trace::ParseFlowConfig(R"(workflows:
  - flow_id: twice
    diag_topic: /t
    event_id: 1
    flow_points:
      - {point_id: a, event_id: 5}
      - {point_id: b, event_id: 6}
      - {point_id: a, event_id: 5}
)");
  FlowModel model(config);
  model.AddEvent(FlowEvent("twice", 5, 0, "Status OK: a"));
  EXPECT_EQ(Outcomes(Flow(model, "twice")), (std::vector<PointOutcome>{kOk, kNone, kNone}));
  model.AddEvent(FlowEvent("twice", 5, 1, "Status Failed: a"));
  EXPECT_EQ(Outcomes(Flow(model, "twice")), (std::vector<PointOutcome>{kOk, kNone, kFailed}));
  model.AddEvent(FlowEvent("twice", 5, 0, "Status OK: a"));
  EXPECT_EQ(Outcomes(Flow(model, "twice")), (std::vector<PointOutcome>{kOk, kNone, kOk}));
}

TEST(FlowModel, a_verdict_closes_the_run_and_the_next_event_starts_a_new_one) {
  FlowModel model(MonitorConfig());
  model.AddEvent(FlowEvent("pick", 11, 0, "Status OK: open", 100, 0));
  model.AddEvent(FlowEvent("pick", 13, 1, "Status Failed: grasp", 100, 500000000));
  // A text that reads like a verdict is no verdict: only the kind says so.
  model.AddEvent(FlowEvent("pick", 10, 1, "Status Failed, point grasp failed in flow pick"));
  model.AddEvent(VerdictEvent("pick", 10, FlowCheckStatus::FAILED, "grasp", 1250, 101));
  FlowView pick = Flow(model, "pick");
  // The outcomes stay shown until the next run begins.
  EXPECT_EQ(Outcomes(pick), (std::vector<PointOutcome>{kOk, kNone, kFailed, kNone}));
  ASSERT_EQ(pick.runs.size(), 1U);
  EXPECT_FALSE(pick.runs[0].passed);
  EXPECT_EQ(pick.runs[0].verdict, "FAILED");
  EXPECT_NEAR(*pick.runs[0].duration_s, 1.25, 1e-9);

  model.AddEvent(FlowEvent("pick", 11, 0, "Status OK: open", 102, 0));
  model.AddEvent(VerdictEvent("pick", 10, FlowCheckStatus::SUCCESS, "", 1000, 103));
  pick = Flow(model, "pick");
  EXPECT_EQ(Outcomes(pick), (std::vector<PointOutcome>{kOk, kNone, kNone, kNone}));
  ASSERT_EQ(pick.runs.size(), 2U);
  EXPECT_TRUE(pick.runs[1].passed);
  EXPECT_NEAR(*pick.runs[1].duration_s, 1.0, 1e-9);
}

// Each sequence of events, and the outcomes, expected point and runs it must leave.
TEST(FlowModel, events_mark_points_by_their_kind_and_only_verdicts_end_runs) {
  using Kind = kestrune::trace::report::EventKind;
  using kestrune::monitor::EventReport;
  using kestrune::monitor::StatusReport;
  struct Case {
    const char* name;
    std::vector<EventReport> events;
    std::vector<std::pair<std::string, std::string>> status;
    std::vector<PointOutcome> outcomes;
    int expected;  // index of the point marked as awaited, or -1
    std::vector<std::string> runs;
  };
  const std::vector<Case> cases = {
      {"a timeout keeps its mark through the ok sent right after it",
       {KindEvent("pick", 13, Kind::kTimeout, 1, "grasp"),
        KindEvent("pick", 13, Kind::kPoint, 0, "grasp")},
       {},
       {kNone, kNone, PointOutcome::kTimeout, kNone},
       -1,
       {}},
      {"a stall is no end of the run: it goes on and passes",
       {FlowEvent("pick", 11, 0, "Status OK: open"), KindEvent("pick", 10, Kind::kStall, 1, "open"),
        FlowEvent("pick", 13, 0, "Status OK: grasp"),
        VerdictEvent("pick", 10, FlowCheckStatus::SUCCESS, "", 800)},
       {},
       {kOk, kNone, kOk, kNone},
       -1,
       {"SUCCESS"}},
      {"a missing verdict marks its point missing",
       {FlowEvent("pick", 11, 0, "Status OK: open"),
        VerdictEvent("pick", 10, FlowCheckStatus::MISSING_POINT, "grasp", 300)},
       {},
       {kOk, kNone, PointOutcome::kMissing, kNone},
       -1,
       {"MISSING_POINT"}},
      {"the point a running run waits for is marked, by name, at its first free place",
       {FlowEvent("pick", 11, 0, "Status OK: open")},
       {{"state", "stalled"}, {"next expected point", "open"}},
       {kOk, kNone, kNone, kNone},
       3,
       {}},
      {"an idle flow waits for nothing",
       {},
       {{"state", "idle"}, {"next expected point", "open"}},
       {kNone, kNone, kNone, kNone},
       -1,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlowModel model(MonitorConfig());
    model.AddStatus(FlowStatus("arm", "pick", 0));
    for (const auto& event : c.events) {
      model.AddEvent(event);
    }
    if (!c.status.empty()) {
      StatusReport status = FlowStatus("arm", "pick", 0);
      status.values = {{"flow id", "pick"}};
      status.values.insert(status.values.end(), c.status.begin(), c.status.end());
      model.AddStatus(status);
    }
    const FlowView pick = Flow(model, "pick");
    EXPECT_EQ(Outcomes(pick), c.outcomes);
    for (size_t i = 0; i < pick.points.size(); ++i) {
      EXPECT_EQ(pick.points[i].expected, static_cast<int>(i) == c.expected) << i;
    }
    std::vector<std::string> runs;
    for (const auto& run : pick.runs) {
      runs.push_back(run.verdict);
    }
    EXPECT_EQ(runs, c.runs);
  }
}

TEST(FlowModel, runs_of_unconfigured_flows_come_from_the_status_counters) {
  FlowModel model(MonitorConfig());
  const auto status = [](const std::string& checked, const std::string& failed,
                         const std::string& verdict, const std::string& duration) {
    return FlowStatus("n", "learned", 0,
                      {{"runs checked", checked},
                       {"runs failed", failed},
                       {"last verdict", verdict},
                       {"last run duration", duration}});
  };
  model.AddStatus(status("3", "0", "SUCCESS", "1.00 s"));  // what ran before we listened is unknown
  model.AddStatus(status("3", "0", "SUCCESS", "1.00 s"));
  model.AddStatus(status("4", "1", "FAILED", "2.50 s"));
  model.AddStatus(status("5", "1", "SUCCESS", "soon"));
  // Three runs between two statuses, one of them failed: three bars.
  model.AddStatus(status("8", "2", "SUCCESS", "0.50 s"));
  const FlowView flow = Flow(model, "learned");
  ASSERT_EQ(flow.runs.size(), 5U);
  EXPECT_FALSE(flow.runs[0].passed);
  EXPECT_DOUBLE_EQ(*flow.runs[0].duration_s, 2.5);
  EXPECT_TRUE(flow.runs[1].passed);
  EXPECT_FALSE(flow.runs[1].duration_s);
  EXPECT_FALSE(flow.runs[2].passed);
  EXPECT_TRUE(flow.runs[3].passed);
  EXPECT_TRUE(flow.runs[4].passed);
  EXPECT_EQ(flow.runs[4].verdict, "SUCCESS");
  size_t failed = 0;
  for (const auto& run : flow.runs) {
    failed += run.passed ? 0 : 1;
  }
  EXPECT_EQ(failed, 2U);
}

TEST(FlowModel, the_cap_keeps_the_first_flows_and_every_heartbeat_and_says_so_once) {
  ModelLimits limits;
  limits.learned_flows = 3;
  FlowModel model(MonitorConfig(), limits);
  std::vector<std::string> notices;
  model.SetNotice([&](const std::string& notice) { notices.push_back(notice); });
  for (const std::string node : {"a", "b", "c", "d", "e"}) {
    model.AddStatus(FlowStatus(node, "flow_" + node, 0));
    model.AddStatus(FlowStatus(node, "flow_" + node, 0));
  }
  model.AddStatus(FlowStatus("z", "heartbeat", 0));
  EXPECT_TRUE(model.AddStatus(FlowStatus("arm", "pick", 0)));
  const auto views = model.Changes(0).first;
  EXPECT_EQ(views.size(), 2U + 3U + 1U);
  FindFlow(views, "heartbeat");
  FindFlow(views, "flow_a");
  EXPECT_EQ(model.Summary().left_out, 2U);
  EXPECT_EQ(model.Summary().left_out_rule, FlowModel::kLeftOutRule);
  ASSERT_EQ(notices.size(), 1U);
  EXPECT_NE(notices[0].find("'d: flow_d'"), std::string::npos) << notices[0];
}

TEST(FlowModel, memory_stays_bounded_over_a_long_run_of_input) {
  ModelLimits limits;
  limits.events_per_flow = 5;
  limits.runs_per_flow = 3;
  limits.learned_flows = 10;
  limits.values_per_status = 4;
  limits.text_bytes = 16;
  FlowModel model(MonitorConfig(), limits);
  const std::string long_text(1000, 'x');
  for (int i = 0; i < 5000; ++i) {
    model.AddEvent(FlowEvent("pick", 11, 0, long_text));
    model.AddEvent(VerdictEvent("pick", 10, FlowCheckStatus::SUCCESS, "", 10));
    auto status = FlowStatus("node" + std::to_string(i % 50), "learned", 0);
    status.values.resize(40, {long_text, long_text});
    model.AddStatus(status);
  }
  const auto views = model.Changes(0).first;
  EXPECT_EQ(views.size(), 2U + 10U);
  const FlowView pick = FindFlow(views, "pick");
  EXPECT_EQ(pick.events.size(), 5U);
  EXPECT_EQ(pick.runs.size(), 3U);
  for (const auto& event : pick.events) {
    EXPECT_LE(event.msg.size(), 16U);
  }
  for (const auto& view : views) {
    EXPECT_LE(view.values.size(), 4U);
    for (const auto& [key, value] : view.values) {
      EXPECT_LE(key.size() + value.size(), 32U);
    }
  }
  EXPECT_EQ(model.Ignored(), 5000U - 10U * 100U);
}

TEST(FlowModel, changes_hold_only_flows_touched_since_the_version_given) {
  FlowModel model(MonitorConfig());
  const uint64_t start = model.Changes(0).second;
  model.AddEvent(FlowEvent("dock", 12, 0, "Status OK: latch"));
  auto [views, version] = model.Changes(start);
  ASSERT_EQ(views.size(), 1U);
  EXPECT_EQ(views[0].flow_id, "dock");
  EXPECT_TRUE(model.Changes(version).first.empty());
}

// The ROS side feeds the model while the HTTP side reads it: every read is a
// consistent copy, versions only grow, and nothing is lost between reads.
TEST(FlowModel, a_reader_and_a_feeder_on_two_threads_see_every_change_in_order) {
  FlowModel model(MonitorConfig());
  constexpr int kRounds = 2000;
  std::thread feeder([&] {
    for (int i = 0; i < kRounds; ++i) {
      model.AddEvent(FlowEvent("dock", 12, 0, "Status OK: latch", i));
      model.AddStatus(FlowStatus("arm", "pick", static_cast<uint8_t>(i % 3)));
    }
  });
  uint64_t since = 0;
  int32_t last_stamp = -1;
  const auto deadline = kestrune::monitor::SteadyClock::now() + seconds(20);
  while (last_stamp < kRounds - 1 && kestrune::monitor::SteadyClock::now() < deadline) {
    auto [views, version] = model.Changes(since);
    EXPECT_GE(version, since);
    since = version;
    for (const auto& view : views) {
      if (view.flow_id == "dock" && !view.events.empty()) {
        EXPECT_GE(view.events.back().stamp_sec, last_stamp);
        EXPECT_LE(view.events.size(), 50U);
        last_stamp = view.events.back().stamp_sec;
      }
    }
  }
  feeder.join();
  EXPECT_EQ(last_stamp, kRounds - 1);
  EXPECT_EQ(Flow(model, "pick").level, kestrune::monitor::LevelWord((kRounds - 1) % 3));
}

}  // namespace
