#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "flow_scope.hpp"
#include "support/captured_log.hpp"

namespace {

using kestrune::scenario::FlowScope;
using kestrune::trace::FlowCheckResult;
using kestrune::trace::FlowCheckStatus;
using kestrune::trace::FlowTrace;
using kestrune::trace::TracePoint;
using kestrune::trace::TracePointCfg;
using kestrune_test::CapturedLog;

/// Registers flow "scoped" with the points a and b, recording its check verdicts.
std::shared_ptr<std::vector<FlowCheckStatus>> RegisterScopedFlow() {
  std::vector<std::shared_ptr<TracePointCfg>> points = {std::make_shared<TracePointCfg>("a"),
                                                        std::make_shared<TracePointCfg>("b")};
  for (auto& point : points) {
    point->is_critical = true;
  }
  FlowTrace::GetInstance()->RegisterTraceFlow("scoped", points, "", "", true);
  auto verdicts = std::make_shared<std::vector<FlowCheckStatus>>();
  FlowTrace::GetInstance()->RegisterFlowHandler(
      "scoped", [verdicts](const std::string&, const std::shared_ptr<FlowCheckResult>& result) {
        verdicts->push_back(result->status);
      });
  return verdicts;
}

TEST(FlowScope, resets_on_open_records_successes_and_checks_on_close) {
  auto* engine = FlowTrace::GetInstance();
  const auto verdicts = RegisterScopedFlow();
  engine->Trace("scoped", "stale", true);
  {
    FlowScope scope("scoped");
    EXPECT_TRUE(engine->GetTracePoints("scoped").empty());

    scope.Trace("a");
    auto prepared = std::make_shared<TracePoint>("b", false);
    scope.Trace(prepared);
    const auto& points = engine->GetTracePoints("scoped");
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0]->point_id, "a");
    EXPECT_TRUE(points[0]->success);
    EXPECT_EQ(points[1], prepared);
    EXPECT_FALSE(points[1]->success);

    EXPECT_EQ(scope.GetFlowDuration(), engine->GetFlowDuration("scoped"));
    EXPECT_TRUE(verdicts->empty());
  }
  // b was reported as failed, so the check on close finds the run failed.
  EXPECT_EQ(*verdicts, std::vector<FlowCheckStatus>{FlowCheckStatus::FAILED});
  EXPECT_EQ(engine->GetTracePoints("scoped").size(), 2u);
}

TEST(FlowScope, with_an_empty_flow_id_calls_nothing) {
  CapturedLog log;
  {
    FlowScope scope("");
    scope.Trace("a");
    scope.Trace(std::make_shared<TracePoint>("b", true));
    EXPECT_EQ(scope.GetFlowDuration(), 0u);
  }
  // Every engine operation logs for an empty flow id; the scope made none.
  EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
