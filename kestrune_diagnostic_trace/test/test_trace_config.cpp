#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "support/captured_log.hpp"
#include "support/flows.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::FlowTrace;
using kestrune::trace::TraceFlowCfg;
using kestrune_test::CapturedLog;
using kestrune_test::HasLine;
using kestrune_test::PointIds;
using kestrune_test::TempFile;

std::shared_ptr<TraceFlowCfg> Load(const std::string& yaml, const std::string& flow_id) {
  TempFile file(yaml);
  FlowTrace::GetInstance()->Init(file.path(), std::shared_ptr<rclcpp::Node>());
  return FlowTrace::GetInstance()->GetTraceFlowCfg(flow_id);
}

size_t CountStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  size_t count = 0;
  for (const auto& line : lines) {
    count += line.size() > prefix.size() && line.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
  }
  return count;
}

const char kPointError[] = "[ERROR] Failed to parse trace point config: ";
const char kFlowError[] = "[ERROR] Failed to parse trace flow config: ";

TEST(TraceConfig, point_keys_alternatives_and_defaults) {
  CapturedLog log;
  auto flow = Load(R"(
workflows:
  - flow_id: f
    flow_points:
      - {point_id: a, event_id: 5, failure_id: 7, point_desc: pd, description: d}
      - {point_id: b, faliure_id: 9, description: d, optional: true}
      - {point_id: c, optional: false, on_success: yes, on_failure: off, on_timeout: on,
         repeat_cnt: 3, repeat_max: 2, timeout_ms: 100, freq_min: .inf}
      - {point_id: d}
      - {point_id: e, failure_id: 7, faliure_id: 9, freq_min: -2.5}
)",
                   "f");
  const auto lines = log.Lines();
  ASSERT_TRUE(flow);
  ASSERT_EQ(flow->flow_points.size(), 5u);
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
  EXPECT_FALSE(d.on_timeout);
  EXPECT_EQ(d.event_id, 0u);
  EXPECT_EQ(d.repeat_cnt, 0u);
  EXPECT_EQ(d.repeat_max, 0u);
  EXPECT_EQ(d.timeout_ms, 0u);
  EXPECT_EQ(d.exec_cnt, 0u);
  EXPECT_EQ(d.description, "");
  const auto& e = *flow->flow_points[4];
  EXPECT_EQ(e.event_id, 7u);
  EXPECT_FLOAT_EQ(e.freq_min, -2.5F);
  EXPECT_TRUE(HasLine(lines,
                      "[INFO] Parsed trace point config: point_id=a, description=pd, "
                      "is_critical=true"));
  EXPECT_TRUE(HasLine(lines,
                      "[INFO] Parsed trace point config: point_id=b, description=d, "
                      "is_critical=false"));
  EXPECT_TRUE(HasLine(lines,
                      "[INFO] Parsed trace point config: point_id=d, description=, "
                      "is_critical=true"));
}

TEST(TraceConfig, flow_keys_alternatives_and_defaults) {
  CapturedLog log;
  TempFile file(R"(
workflows:
  - {flow_id: both, flow_name: Both, description: D, diag_topic: t, event_id: 5, failure_id: 7}
  - {flow_id: fail, failure_id: 7, faliure_id: 9, check_order: false}
  - {flow_id: typo, faliure_id: 9, check_order: true}
  - {flow_id: bare}
)");
  auto* engine = FlowTrace::GetInstance();
  engine->Init(file.path(), std::shared_ptr<rclcpp::Node>());
  const auto lines = log.Lines();

  auto both = engine->GetTraceFlowCfg("both");
  ASSERT_TRUE(both);
  EXPECT_EQ(both->event_id, 5u);
  EXPECT_EQ(both->flow_name, "Both");
  EXPECT_EQ(both->description, "D");
  EXPECT_EQ(both->diag_topic, "t");
  EXPECT_FALSE(both->publisher);
  EXPECT_TRUE(both->check_order);
  auto fail = engine->GetTraceFlowCfg("fail");
  ASSERT_TRUE(fail);
  EXPECT_EQ(fail->event_id, 7u);
  EXPECT_FALSE(fail->check_order);
  auto typo = engine->GetTraceFlowCfg("typo");
  ASSERT_TRUE(typo);
  EXPECT_EQ(typo->event_id, 9u);
  EXPECT_TRUE(typo->check_order);
  auto bare = engine->GetTraceFlowCfg("bare");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->event_id, 0u);
  EXPECT_TRUE(bare->check_order);
  EXPECT_EQ(bare->flow_name, "");
  EXPECT_EQ(bare->diag_topic, "");
  EXPECT_TRUE(bare->flow_points.empty());
  EXPECT_EQ(bare->check_index, 0u);
  EXPECT_TRUE(HasLine(lines,
                      "[DEBUG] Parsed trace flow config: flow_id=fail, flow_name=, "
                      "check_order=false, points_count=0"));
}

TEST(TraceConfig, null_string_values_read_as_the_text_null) {
  auto flow = Load(R"(
workflows:
  - flow_id: f
    flow_name:
    description: ~
    diag_topic:
    flow_points:
      - {point_id: , point_desc: }
      - {point_id: b, point_desc: ~, description: ignored}
  - flow_id:
)",
                   "f");
  ASSERT_TRUE(flow);
  EXPECT_EQ(flow->flow_name, "null");
  EXPECT_EQ(flow->description, "null");
  EXPECT_EQ(flow->diag_topic, "null");
  ASSERT_EQ(flow->flow_points.size(), 2u);
  EXPECT_EQ(flow->flow_points[0]->point_id, "null");
  EXPECT_EQ(flow->flow_points[0]->description, "null");
  EXPECT_EQ(flow->flow_points[1]->description, "null");
  EXPECT_TRUE(FlowTrace::GetInstance()->GetTraceFlowCfg("null"));
}

TEST(TraceConfig, bad_point_values_drop_only_their_point) {
  CapturedLog log;
  auto flow = Load(R"(
workflows:
  - flow_id: f
    flow_points:
      - {point_id: a, repeat_cnt: -3}
      - {point_id: b, optional: }
      - {point_id: c}
      - {description: no id}
      - {point_id: e, timeout_ms: }
      - {point_id: f, on_success: maybe}
      - {point_id: g, event_id: -1, failure_id: 4}
      - {point_id: h, freq_min: fast}
      - {point_id: i, point_desc: {nested: map}}
      - {point_id: j, repeat_max: 4294967296}
      - just a scalar
      - {point_id: k, timeout_ms: 4294967295}
)",
                   "f");
  const auto lines = log.Lines();
  ASSERT_TRUE(flow);
  EXPECT_EQ(PointIds(*flow), (std::vector<std::string>{"c", "k"}));
  EXPECT_EQ(flow->flow_points[1]->timeout_ms, 4294967295u);
  EXPECT_TRUE(HasLine(lines, "[ERROR] point_id parse failed, point config invalid"));
  EXPECT_EQ(CountStartingWith(lines, kPointError), 9u);
  EXPECT_TRUE(HasLine(lines,
                      "[DEBUG] Parsed trace flow config: flow_id=f, flow_name=, "
                      "check_order=true, points_count=2"));
}

// Events carry the id in a signed 32-bit field; a larger id would be published wrapped.
TEST(TraceConfig, event_ids_above_the_event_field_are_refused_naming_key_and_value) {
  CapturedLog log;
  TempFile file(R"(
workflows:
  - flow_id: f
    flow_points:
      - {point_id: a, event_id: 2147483647}
      - {point_id: b, event_id: 2147483648}
      - {point_id: c, failure_id: 4294967295}
      - {point_id: d, faliure_id: 3000000000}
      - {point_id: e, event_id: 3000000000, failure_id: 4}
  - {flow_id: g, event_id: 4294967295}
  - {flow_id: h, faliure_id: 2147483647}
)");
  auto* engine = FlowTrace::GetInstance();
  engine->Init(file.path(), std::shared_ptr<rclcpp::Node>());
  const auto lines = log.Lines();
  EXPECT_EQ(engine->GetTraceFlows(), (std::set<std::string>{"f", "h"}));
  EXPECT_EQ(engine->GetTraceFlowCfg("h")->event_id, 2147483647u);
  const auto flow = engine->GetTraceFlowCfg("f");
  ASSERT_TRUE(flow);
  EXPECT_EQ(PointIds(*flow), std::vector<std::string>{"a"});
  EXPECT_EQ(flow->flow_points[0]->event_id, 2147483647u);
  const std::string range = " is out of range, the largest is 2147483647";
  for (const std::string& line : {
           kPointError + std::string("yaml-cpp: error at line 6, column 33: event_id 2147483648"),
           kPointError + std::string("yaml-cpp: error at line 7, column 35: failure_id 4294967295"),
           kPointError + std::string("yaml-cpp: error at line 8, column 35: faliure_id 3000000000"),
           kPointError + std::string("yaml-cpp: error at line 9, column 33: event_id 3000000000"),
           kFlowError + std::string("yaml-cpp: error at line 10, column 28: event_id 4294967295"),
       }) {
    EXPECT_TRUE(HasLine(lines, line + range)) << line;
  }
}

TEST(TraceConfig, bad_flow_values_drop_the_whole_flow_and_keep_the_others) {
  CapturedLog log;
  TempFile file(R"(
workflows:
  - {flow_id: order, check_order: maybe}
  - {flow_id: text_id, event_id: abc}
  - {flow_id: negative, failure_id: -1}
  - {flow_id: first_wins, event_id: x, failure_id: 3}
  - {flow_id: name_map, flow_name: [a, b]}
  - just a scalar
  - [flow_id, in_a_list]
  -
  - {flow_id: kept, event_id: 3}
)");
  auto* engine = FlowTrace::GetInstance();
  engine->Init(file.path(), std::shared_ptr<rclcpp::Node>());
  const auto lines = log.Lines();
  // Entries that are no mapping are refused too, rather than loading as an unnamed flow.
  EXPECT_EQ(engine->GetTraceFlows(), (std::set<std::string>{"kept"}));
  EXPECT_EQ(CountStartingWith(lines, kFlowError), 8u);
  EXPECT_EQ(CountStartingWith(lines, kPointError), 0u);
}

TEST(TraceConfig, flow_points_that_are_no_sequence_leave_the_flow_without_points) {
  CapturedLog log;
  TempFile file(R"(
workflows:
  - {flow_id: absent}
  - {flow_id: scalar, flow_points: 3}
  - {flow_id: mapping, flow_points: {point_id: a}}
  - {flow_id: empty, flow_points: []}
)");
  auto* engine = FlowTrace::GetInstance();
  engine->Init(file.path(), std::shared_ptr<rclcpp::Node>());
  const auto lines = log.Lines();
  for (const char* id : {"absent", "scalar", "mapping", "empty"}) {
    auto flow = engine->GetTraceFlowCfg(id);
    ASSERT_TRUE(flow) << id;
    EXPECT_TRUE(flow->flow_points.empty()) << id;
  }
  for (const auto& line : lines) {
    EXPECT_EQ(line.rfind("[ERROR]", 0), std::string::npos) << line;
  }
}

TEST(TraceConfig, heartbeat_duration_is_read_only_from_the_heartbeat_flow) {
  auto* engine = FlowTrace::GetInstance();
  {
    CapturedLog log;
    TempFile file(R"(
workflows:
  - {flow_id: other, duration_ms: not a number}
  - {flow_id: heartbeat, duration_ms: 30000}
)");
    engine->Init(file.path(), std::shared_ptr<rclcpp::Node>());
    const auto lines = log.Lines();
    EXPECT_TRUE(engine->GetTraceFlowCfg("other"));
    EXPECT_TRUE(HasLine(lines, "[INFO] heartbeat duration: 30000, heartbeat run: false"));
  }
  {
    // A heartbeat thread started above may or may not have marked itself running yet.
    CapturedLog log;
    TempFile file("workflows:\n  - {flow_id: heartbeat}\n");
    engine->Init(file.path(), std::shared_ptr<rclcpp::Node>());
    const auto lines = log.Lines();
    EXPECT_TRUE(HasLine(lines, "[INFO] heartbeat duration: 0, heartbeat run: false") ||
                HasLine(lines, "[INFO] heartbeat duration: 0, heartbeat run: true"));
  }
  {
    CapturedLog log;
    TempFile file("workflows:\n  - {flow_id: heartbeat, duration_ms: -5}\n");
    engine->Init(file.path(), std::shared_ptr<rclcpp::Node>());
    const auto lines = log.Lines();
    EXPECT_FALSE(engine->GetTraceFlowCfg("heartbeat"));
    EXPECT_EQ(CountStartingWith(lines, kFlowError), 1u);
    EXPECT_EQ(CountStartingWith(lines, "[INFO] heartbeat duration: "), 0u);
  }
}

}  // namespace
