// `kestrune_flow show`: every setting written out, and the output loads as the same flows.
#include <gtest/gtest.h>

#include <string>

#include <kestrune_diagnostic_trace/flow_config.hpp>

#include "flow_show.hpp"
#include "loaded_flows.hpp"

namespace {

using kestrune::trace::ParseFlowConfig;
using kestrune::trace::TraceFlowCfg;
using kestrune::trace::TracePointCfg;

void ExpectSamePoint(const TracePointCfg& a, const TracePointCfg& b) {
  EXPECT_EQ(a.point_id, b.point_id);
  EXPECT_EQ(a.description, b.description);
  EXPECT_EQ(a.is_critical, b.is_critical);
  EXPECT_EQ(a.on_success, b.on_success);
  EXPECT_EQ(a.on_failure, b.on_failure);
  EXPECT_EQ(a.on_timeout, b.on_timeout);
  EXPECT_EQ(a.event_id, b.event_id);
  EXPECT_EQ(a.repeat_cnt, b.repeat_cnt);
  EXPECT_EQ(a.repeat_max, b.repeat_max);
  EXPECT_EQ(a.timeout_ms, b.timeout_ms);
  EXPECT_EQ(a.freq_min, b.freq_min);
}

TEST(FlowShow, writes_the_loaded_flows_with_defaults_and_loads_back_the_same) {
  const auto parsed = ParseFlowConfig(R"(
workflows:
  - flow_id: a
    flow_name: "A: with colon"
    diag_topic: /t
    failure_id: 9
    check_order: no
    flow_points:
      - {point_id: p, point_desc: first, faliure_id: 3, optional: yes, freq_min: 2.5}
      - {point_id: q, on_failure: off, repeat_cnt: 2, repeat_max: 4, timeout_ms: 7}
  - {flow_id: a, flow_name: replaced, flow_points: [{point_id: r}]}
  - {flow_id: b, flow_points: [{point_id: s, on_success: on, on_timeout: true}]}
  - {flow_id: heartbeat, duration_ms: 250}
)");
  const auto flows = kestrune::flow_tool::LoadedFlows(parsed);
  const std::string shown = kestrune::flow_tool::ShowFlows(flows, parsed.heartbeat_period_ms);
  // Defaults are spelt out, so a reader sees what will be checked.
  EXPECT_NE(shown.find("on_failure: true"), std::string::npos) << shown;
  EXPECT_NE(shown.find("check_order: true"), std::string::npos) << shown;
  EXPECT_NE(shown.find("duration_ms: 250"), std::string::npos) << shown;

  const auto reloaded = ParseFlowConfig(shown);
  EXPECT_TRUE(reloaded.findings.empty()) << shown;
  EXPECT_EQ(reloaded.heartbeat_period_ms, 250u);
  ASSERT_EQ(reloaded.flows.size(), flows.size()) << shown;
  ASSERT_EQ(flows.size(), 3u);
  EXPECT_EQ(flows[0]->flow_name, "replaced");
  EXPECT_EQ(flows[2]->flow_points.front()->point_id, "heartbeat");
  for (size_t i = 0; i < flows.size(); ++i) {
    const TraceFlowCfg& a = *flows[i];
    const TraceFlowCfg& b = *reloaded.flows[i];
    EXPECT_EQ(a.flow_id, b.flow_id);
    EXPECT_EQ(a.flow_name, b.flow_name);
    EXPECT_EQ(a.diag_topic, b.diag_topic);
    EXPECT_EQ(a.description, b.description);
    EXPECT_EQ(a.check_order, b.check_order);
    EXPECT_EQ(a.event_id, b.event_id);
    ASSERT_EQ(a.flow_points.size(), b.flow_points.size()) << a.flow_id;
    for (size_t p = 0; p < a.flow_points.size(); ++p) {
      ExpectSamePoint(*a.flow_points[p], *b.flow_points[p]);
    }
  }
}

}  // namespace
