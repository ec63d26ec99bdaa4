#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "support/captured_log.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::FlowTrace;
using kestrune::trace::TraceFlowCfg;
using kestrune::trace::TracePointCfg;
using kestrune_test::CapturedLog;
using kestrune_test::HasLine;
using kestrune_test::TempFile;

std::shared_ptr<TraceFlowCfg> Load(const std::string& yaml, const std::string& flow_id) {
  TempFile file(yaml);
  FlowTrace::GetInstance()->Init(file.path(), std::shared_ptr<rclcpp::Node>());
  return FlowTrace::GetInstance()->GetTraceFlowCfg(flow_id);
}

TEST(TraceConfig, point_keys_alternatives_and_defaults) {
  auto flow = Load(R"(
workflows:
  - flow_id: f
    flow_points:
      - {point_id: a, event_id: 5, failure_id: 7, point_desc: pd, description: d}
      - {point_id: b, faliure_id: 9, description: d, optional: true}
      - {point_id: c, optional: false, on_success: yes, on_failure: off, on_timeout: on,
         repeat_cnt: 3, repeat_max: 2, timeout_ms: 100, freq_min: .inf}
      - {point_id: d}
)",
                   "f");
  ASSERT_TRUE(flow);
  ASSERT_EQ(flow->flow_points.size(), 4u);
  const auto& a = *flow->flow_points[0];
  EXPECT_EQ(a.event_id, 5u);
  EXPECT_EQ(a.description, "pd");
  EXPECT_TRUE(a.is_critical);
  const auto& b = *flow->flow_points[1];
  EXPECT_EQ(b.event_id, 9u);
  EXPECT_EQ(b.description, "d");
  EXPECT_FALSE(b.is_critical);
  const auto& c = *flow->flow_points[2];
  EXPECT_TRUE(c.is_critical);
  EXPECT_TRUE(c.on_success);
  EXPECT_FALSE(c.on_failure);
  EXPECT_TRUE(c.on_timeout);
  EXPECT_EQ(c.repeat_cnt, 3u);
  EXPECT_EQ(c.repeat_max, 2u);
  EXPECT_EQ(c.timeout_ms, 100u);
  EXPECT_TRUE(std::isinf(c.freq_min));
  const auto& d = *flow->flow_points[3];
  EXPECT_TRUE(d.is_critical);
  EXPECT_FALSE(d.on_success);
  EXPECT_TRUE(d.on_failure);
  EXPECT_EQ(d.event_id, 0u);
  EXPECT_TRUE(flow->check_order);
}

TEST(TraceConfig, negative_and_valueless_numbers_drop_only_their_point) {
  CapturedLog log;
  auto flow = Load(R"(
workflows:
  - flow_id: f
    flow_points:
      - {point_id: a, repeat_cnt: -3}
      - {point_id: b, optional: }
      - {point_id: c}
      - {description: no id}
)",
                   "f");
  const auto lines = log.Lines();
  ASSERT_TRUE(flow);
  ASSERT_EQ(flow->flow_points.size(), 1u);
  EXPECT_EQ(flow->flow_points[0]->point_id, "c");
  EXPECT_TRUE(HasLine(lines, "[ERROR] point_id parse failed, point config invalid"));
  size_t failures = 0;
  for (const auto& line : lines) {
    failures += line.rfind("[ERROR] Failed to parse trace point config: ", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(failures, 2u);
}

}  // namespace
