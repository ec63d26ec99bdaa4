// Run budgets and duration statistics: runs with controlled stamps, their
// events and figures, the judgement of levels, and the figures' lifetime.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <kestrune_diagnostic_trace/flow_statistics.hpp>
#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "flow_trace/flow_health.hpp"
#include "support/engine.hpp"

namespace {

using kestrune::trace::DiagnosticEvent;
using kestrune::trace::FlowCheckStatus;
using kestrune::trace::FlowStatistics;
using kestrune::trace::TracePoint;
using kestrune_test::Engine;
using kestrune_test::EngineTest;
using kestrune_test::SentEvent;
using std::chrono::milliseconds;

// `b` is optional, so a run without it passes with its two steps unmeasured.
constexpr char kConfig[] = R"(
diagnostics: {stats_window: 4}
workflows:
  - flow_id: pick
    diag_topic: /stats_test/pick
    event_id: 10
    budget_ms: 1500
    budget_event_id: 90
    flow_points:
      - {point_id: a, event_id: 11}
      - {point_id: b, event_id: 12, optional: true}
      - {point_id: c, event_id: 13}
)";

/// How a run's points are stamped.
enum class Stamps {
  kSteady,         ///< made in this process
  kWallStepsBack,  ///< made here, while the wall clock stepped back an hour before the last
  kForeign,        ///< another process's: wall stamps only
  kForeignBack,    ///< the same, the last stamp earlier than the first
};

struct At {
  const char* point;
  int64_t ms;
  bool success{true};
};

/// One run of `pick` from a reset, its points `ms` apart from its start, then checked.
FlowCheckStatus RunPick(const std::vector<At>& points, Stamps stamps = Stamps::kSteady) {
  Engine()->ResetFlow("pick");
  const auto start = std::chrono::steady_clock::now();
  const int64_t wall = TracePoint("start", true).timestamp_ms;
  for (size_t i = 0; i < points.size(); ++i) {
    auto point = std::make_shared<TracePoint>(points[i].point, points[i].success);
    point->steady_time = start + milliseconds(points[i].ms);
    point->timestamp_ms = wall + points[i].ms;
    const bool last = i + 1 == points.size();
    if (stamps == Stamps::kWallStepsBack && last) {
      point->timestamp_ms -= 3600 * 1000;
    }
    if (stamps == Stamps::kForeign || stamps == Stamps::kForeignBack) {
      point->steady_time.reset();
    }
    if (stamps == Stamps::kForeignBack && last) {
      point->timestamp_ms = wall - 1;
    }
    Engine()->Trace("pick", point);
  }
  return Engine()->CheckFlow("pick")->status;
}

FlowStatistics Statistics() {
  const std::optional<FlowStatistics> stats = Engine()->GetFlowStatistics("pick");
  EXPECT_TRUE(stats);
  return stats.value_or(FlowStatistics{});
}

class FlowStatisticsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    // A flow loaded anew keeps its figures: each test starts from a removed one.
    Load("workflows: []\n");
    Load(kConfig);
  }
};

// Each row runs after the rows before it, in a window of four runs.
TEST_F(FlowStatisticsTest, runs_give_their_events_and_figures) {
  const std::string over_1900 =
      "Status Failed, flow over budget: pick took 1900 ms, budget 1500 ms";
  const std::string over_1600 =
      "Status Failed, flow over budget: pick took 1600 ms, budget 1500 ms";
  const struct {
    const char* name;
    std::vector<At> points;
    Stamps stamps;
    FlowCheckStatus verdict;
    /// The over-budget event's text; empty: none is sent.
    std::string over_budget;
    uint32_t count;
    uint64_t failed;
    uint64_t left_out;
    double median_ms;
  } rows[] = {
      {"within budget",
       {{"a", 0}, {"b", 400}, {"c", 1200}},
       Stamps::kSteady,
       FlowCheckStatus::SUCCESS,
       "",
       1,
       0,
       0,
       1200},
      {"over budget",
       {{"a", 0}, {"b", 500}, {"c", 1900}},
       Stamps::kSteady,
       FlowCheckStatus::SUCCESS,
       over_1900,
       2,
       0,
       0,
       1550},
      {"a failed run is counted apart, whatever its length",
       {{"a", 0}, {"c", 2500, false}},
       Stamps::kSteady,
       FlowCheckStatus::FAILED,
       "",
       2,
       1,
       0,
       1550},
      {"a wall clock stepping back changes nothing",
       {{"a", 0}, {"b", 300}, {"c", 1000}},
       Stamps::kWallStepsBack,
       FlowCheckStatus::SUCCESS,
       "",
       3,
       1,
       0,
       1200},
      {"another process's points are measured by their stamps",
       {{"a", 0}, {"b", 100}, {"c", 1600}},
       Stamps::kForeign,
       FlowCheckStatus::SUCCESS,
       over_1600,
       4,
       1,
       0,
       1400},
      {"stamps going backwards leave the run out",
       {{"a", 0}, {"b", 100}, {"c", 9000}},
       Stamps::kForeignBack,
       FlowCheckStatus::SUCCESS,
       "",
       4,
       1,
       1,
       1400},
      {"the window keeps the newest runs",
       {{"a", 0}, {"c", 1000}},
       Stamps::kSteady,
       FlowCheckStatus::SUCCESS,
       "",
       4,
       1,
       1,
       1300},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TakeSent();
    EXPECT_EQ(RunPick(row.points, row.stamps), row.verdict);
    std::vector<DiagnosticEvent> verdicts;
    std::vector<DiagnosticEvent> over_budget;
    for (const SentEvent& sent : TakeSent()) {
      if (sent.event.kind == DiagnosticEvent::KIND_VERDICT) {
        verdicts.push_back(sent.event);
      } else if (sent.event.kind == DiagnosticEvent::KIND_OVER_BUDGET) {
        over_budget.push_back(sent.event);
        EXPECT_EQ(sent.topic, "/stats_test/pick");
      }
    }
    // The verdict keeps the flow's id and its outcome, over budget or not.
    ASSERT_EQ(verdicts.size(), 1U);
    EXPECT_EQ(verdicts[0].id, 10);
    EXPECT_EQ(verdicts[0].status, row.verdict == FlowCheckStatus::SUCCESS ? 0 : 1);
    if (row.over_budget.empty()) {
      EXPECT_TRUE(over_budget.empty());
    } else {
      ASSERT_EQ(over_budget.size(), 1U);
      EXPECT_EQ(over_budget[0].id, 90);
      EXPECT_EQ(over_budget[0].status, 1);
      EXPECT_EQ(over_budget[0].msg, row.over_budget);
      EXPECT_EQ(over_budget[0].verdict, static_cast<uint8_t>(FlowCheckStatus::SUCCESS));
    }
    const FlowStatistics stats = Statistics();
    EXPECT_EQ(stats.count, row.count);
    EXPECT_EQ(stats.failed_runs, row.failed);
    EXPECT_EQ(stats.left_out_runs, row.left_out);
    EXPECT_DOUBLE_EQ(stats.median_ms, row.median_ms);
  }

  // The window now holds 1900, 1000, 1600 and 1000 ms.
  const FlowStatistics stats = Statistics();
  EXPECT_EQ(stats.window, 4U);
  EXPECT_EQ(stats.passed_runs, 5U);
  EXPECT_DOUBLE_EQ(stats.min_ms, 1000);
  EXPECT_DOUBLE_EQ(stats.p95_ms, 1900);
  EXPECT_DOUBLE_EQ(stats.max_ms, 1900);
  EXPECT_DOUBLE_EQ(stats.over_budget_share, 0.5);
  // Per step, over the runs that reached both its points: the last run skipped b.
  ASSERT_EQ(stats.steps.size(), 2U);
  const struct {
    const char* from;
    const char* to;
    uint32_t count;
    double median_ms;
    double p95_ms;
  } steps[] = {{"a", "b", 3, 300, 500}, {"b", "c", 3, 1400, 1500}};
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(stats.steps[i].from_point, steps[i].from);
    EXPECT_EQ(stats.steps[i].to_point, steps[i].to);
    EXPECT_EQ(stats.steps[i].count, steps[i].count) << i;
    EXPECT_DOUBLE_EQ(stats.steps[i].median_ms, steps[i].median_ms) << i;
    EXPECT_DOUBLE_EQ(stats.steps[i].p95_ms, steps[i].p95_ms) << i;
  }
}

TEST_F(FlowStatisticsTest, figures_survive_reset_and_reloading_but_not_removal) {
  for (int64_t ms : {1000, 1100, 1200}) {
    RunPick({{"a", 0}, {"c", ms}});
  }
  Engine()->ResetFlow("pick");
  EXPECT_EQ(Statistics().count, 3U);
  Load(kConfig);
  EXPECT_EQ(Statistics().count, 3U);
  // A smaller window keeps the newest runs.
  std::string two = kConfig;
  two.replace(two.find("stats_window: 4"), 15, "stats_window: 2");
  Load(two);
  EXPECT_EQ(Statistics().count, 2U);
  EXPECT_DOUBLE_EQ(Statistics().min_ms, 1100);
  // Under another id the flow starts afresh; the old one is gone.
  std::string renamed = two;
  renamed.replace(renamed.find("flow_id: pick"), 13, "flow_id: pack");
  Load(renamed);
  EXPECT_FALSE(Engine()->GetFlowStatistics("pick"));
  EXPECT_EQ(Engine()->GetFlowStatistics("pack")->count, 0U);
  Load(two);
  EXPECT_EQ(Statistics().count, 0U);
  RunPick({{"a", 0}, {"c", 10}});
  Engine()->RemoveTraceFlow("pick");
  EXPECT_FALSE(Engine()->GetFlowStatistics("pick"));
}

TEST_F(FlowStatisticsTest, statistics_are_read_while_other_threads_trace_and_check) {
  std::atomic<bool> done{false};
  std::vector<std::thread> readers;
  std::atomic<uint32_t> most{0};
  for (int reader = 0; reader < 2; ++reader) {
    readers.emplace_back([&] {
      while (!done) {
        const auto stats = Engine()->GetFlowStatistics("pick");
        if (stats && stats->count > most) {
          most = stats->count;
        }
      }
    });
  }
  std::vector<std::thread> tracers;
  for (int tracer = 0; tracer < 2; ++tracer) {
    tracers.emplace_back([] {
      for (int run = 0; run < 100; ++run) {
        for (const char* point : {"a", "b", "c"}) {
          Engine()->Trace("pick", point, true);
        }
        Engine()->CheckFlow("pick");
        Engine()->ResetFlow("pick");
      }
    });
  }
  for (auto& tracer : tracers) {
    tracer.join();
  }
  done = true;
  for (auto& reader : readers) {
    reader.join();
  }
  EXPECT_LE(most.load(), 4U);
  EXPECT_LE(Statistics().count, 4U);
}

// The level and message a flow's figures and budget give, judged on snapshots.
TEST(FlowStatisticsAssessment, budget_and_drift_warn_and_an_error_wins) {
  using namespace kestrune::trace::detail;
  const auto now = std::chrono::steady_clock::now();
  /// `steady` runs of 1 s, then `slow` of 1.5 s whose second step grew.
  auto snapshot = [](int steady, int slow, uint32_t drift_pct) {
    FlowSnapshot flow;
    flow.flow_id = "pick";
    flow.configured_points = 3;
    flow.point_ids = {"a", "b", "c"};
    flow.drift_pct = drift_pct;
    flow.window.emplace(100);
    flow.window->SetSteps(2);
    for (int run = 0; run < steady + slow; ++run) {
      const bool late = run >= steady;
      const double steps[] = {500, late ? 1000.0 : 500.0};
      flow.window->AddPassed(late ? 1500 : 1000, steps);
    }
    flow.facts.last_verdict = FlowCheckStatus::SUCCESS;
    flow.facts.last_run_duration_ms = 1500;
    flow.facts.last_run_points_reached = 3;
    return flow;
  };
  FlowSnapshot over = snapshot(1, 0, 0);
  over.facts.over_budget = true;
  over.facts.over_budget_took_ms = 1900;
  over.facts.over_budget_limit_ms = 1500;
  over.budget_ms = 1500;
  FlowSnapshot failed = over;
  failed.facts.last_verdict = FlowCheckStatus::MISSING_POINT;
  failed.facts.failure_point = "c";
  failed.facts.failure_reason = "point missing";
  const struct {
    const char* name;
    FlowSnapshot flow;
    FlowLevel level;
    const char* message;
  } rows[] = {
      {"over budget", over, FlowLevel::kWarn, "over budget: took 1.9 s, budget 1.5 s"},
      {"an error wins", failed, FlowLevel::kError, "failed at 'c' (point missing)"},
      {"slower by more than drift_pct", snapshot(30, 20, 20), FlowLevel::kWarn,
       "runs getting slower: median 1.5 s over the last 20 runs against 1.0 s over the last 50"},
      {"not before 50 runs", snapshot(29, 20, 20), FlowLevel::kOk, "passed 3/3 points in 1.50 s"},
      {"slower by less than drift_pct", snapshot(30, 20, 60), FlowLevel::kOk,
       "passed 3/3 points in 1.50 s"},
      {"drift off", snapshot(30, 20, 0), FlowLevel::kOk, "passed 3/3 points in 1.50 s"},
  };
  const FlowObservation observation{};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const FlowHealth health = AssessFlow(row.flow, observation, now, 0);
    EXPECT_EQ(health.level, row.level);
    EXPECT_EQ(health.message, row.message);
    EXPECT_EQ(AssessLevel(row.flow, observation, now, 0), row.level);
  }

  // The values name the step that grew.
  const FlowHealth drifting = AssessFlow(snapshot(30, 20, 20), observation, now, 0);
  std::map<std::string, std::string> values(drifting.values.begin(), drifting.values.end());
  EXPECT_EQ(values["runs measured"], "50");
  EXPECT_EQ(values["median duration"], "1.00 s");
  EXPECT_EQ(values["p95 duration"], "1.50 s");
  EXPECT_EQ(values["step a -> b"], "median 0.50 s, p95 0.50 s");
  EXPECT_EQ(values["step b -> c"], "median 0.50 s, p95 1.00 s");
  EXPECT_EQ(values["slowest-growing step"], "b -> c");
}

}  // namespace
