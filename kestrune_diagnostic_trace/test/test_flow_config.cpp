// The configuration parser on its own: text in, flows and findings out.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/flow_config.hpp>

#include "support/captured_log.hpp"
#include "support/flows.hpp"

namespace {

using kestrune::trace::ConfigFinding;
using kestrune::trace::FindingCode;
using kestrune::trace::FindingSeverity;
using C = FindingCode;
using kestrune::trace::ParsedFlowConfig;
using kestrune::trace::ParseFlowConfig;
using kestrune::trace::TraceFlowCfg;
using kestrune_test::PointIds;

std::vector<std::string> FlowIds(const ParsedFlowConfig& parsed) {
  std::vector<std::string> ids;
  for (const auto& flow : parsed.flows) {
    ids.push_back(flow->flow_id);
  }
  return ids;
}

std::string Describe(const std::vector<ConfigFinding>& findings) {
  std::string text;
  for (const auto& finding : findings) {
    text += std::to_string(finding.line) + ":" + std::to_string(finding.column) + " [" +
            finding.key + "] " + finding.message + "\n";
  }
  return text;
}

TEST(FlowConfig, point_keys_alternatives_and_defaults) {
  const auto parsed = ParseFlowConfig(R"(
workflows:
  - flow_id: f
    flow_points:
      - {point_id: a, event_id: 5, failure_id: 7, point_desc: pd, description: d}
      - {point_id: b, faliure_id: 9, description: d, optional: true}
      - {point_id: c, optional: false, on_success: yes, on_failure: off, on_timeout: on,
         repeat_cnt: 3, repeat_max: 2, timeout_ms: 100, freq_min: .inf}
      - {point_id: d, unknown_key: ignored}
)");
  ASSERT_EQ(parsed.flows.size(), 1u);
  EXPECT_TRUE(parsed.findings.empty()) << Describe(parsed.findings);
  const auto& points = parsed.flows[0]->flow_points;
  ASSERT_EQ(points.size(), 4u);
  EXPECT_EQ(points[0]->event_id, 5u);
  EXPECT_EQ(points[0]->description, "pd");
  EXPECT_EQ(points[1]->event_id, 9u);
  EXPECT_FALSE(points[1]->is_critical);
  EXPECT_TRUE(points[2]->is_critical);
  EXPECT_TRUE(points[2]->on_success);
  EXPECT_FALSE(points[2]->on_failure);
  EXPECT_TRUE(points[2]->on_timeout);
  EXPECT_EQ(points[2]->repeat_cnt, 3u);
  EXPECT_EQ(points[2]->repeat_max, 2u);
  EXPECT_EQ(points[2]->timeout_ms, 100u);
  EXPECT_TRUE(std::isinf(points[2]->freq_min));
  // A parsed point is critical unless it says otherwise; the rest as constructed.
  EXPECT_TRUE(points[3]->is_critical);
  EXPECT_FALSE(points[3]->on_success);
  EXPECT_TRUE(points[3]->on_failure);
  EXPECT_EQ(points[3]->event_id, 0u);
}

TEST(FlowConfig, flows_keep_file_order_and_duplicates_and_get_no_publisher) {
  const auto parsed = ParseFlowConfig(R"(
workflows:
  - {flow_id: b, diag_topic: t, failure_id: 7, faliure_id: 9, check_order: false}
  - {flow_id: a, diag_topic: t}
  - {flow_id: b, flow_name: second}
  - {flow_name: no id}
)");
  EXPECT_EQ(FlowIds(parsed), (std::vector<std::string>{"b", "a", "b", ""}));
  EXPECT_EQ(parsed.flows[0]->event_id, 7u);
  EXPECT_FALSE(parsed.flows[0]->check_order);
  EXPECT_TRUE(parsed.flows[2]->check_order);
  EXPECT_EQ(parsed.flows[2]->flow_name, "second");
  for (const auto& flow : parsed.flows) {
    EXPECT_FALSE(flow->publisher);
  }
  EXPECT_EQ(parsed.heartbeat_period_ms, 0u);
  EXPECT_TRUE(parsed.findings.empty()) << Describe(parsed.findings);
}

TEST(FlowConfig, an_anchored_value_reads_the_same_through_every_alias) {
  const auto parsed = ParseFlowConfig(R"(
workflows:
  - flow_id: &id shared
    flow_points: &points [{point_id: x, event_id: &event 5}, {point_id: y}]
  - {flow_id: *id, flow_name: second, event_id: *event, flow_points: *points}
)");
  EXPECT_EQ(FlowIds(parsed), (std::vector<std::string>{"shared", "shared"}));
  ASSERT_EQ(parsed.flows.size(), 2u);
  EXPECT_EQ(PointIds(*parsed.flows[1]), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(parsed.flows[1]->event_id, 5u);
  EXPECT_EQ(parsed.flows[1]->flow_points[0]->event_id, 5u);
}

TEST(FlowConfig, heartbeat_flow_gets_its_point_and_period) {
  const auto parsed = ParseFlowConfig(R"(
workflows:
  - {flow_id: other, duration_ms: 5}
  - {flow_id: heartbeat, duration_ms: 250, flow_points: [{point_id: a}, {point_id: heartbeat}]}
  - {flow_id: listed_first}
)");
  ASSERT_EQ(parsed.flows.size(), 3u);
  EXPECT_EQ(parsed.heartbeat_period_ms, 250u);
  const auto& heartbeat = *parsed.flows[1];
  EXPECT_EQ(PointIds(heartbeat), (std::vector<std::string>{"heartbeat", "a", "heartbeat"}));
  EXPECT_EQ(heartbeat.flow_points[0]->repeat_cnt, 100u);
  EXPECT_EQ(heartbeat.flow_points[0]->repeat_max, 10u);
  EXPECT_TRUE(heartbeat.flow_points[0]->on_success);
  EXPECT_FALSE(heartbeat.flow_points[0]->is_critical);

  const auto own_point = ParseFlowConfig(
      "workflows:\n  - {flow_id: heartbeat, flow_points: [{point_id: heartbeat, repeat_cnt: 2}]}");
  ASSERT_EQ(own_point.flows.size(), 1u);
  EXPECT_EQ(own_point.heartbeat_period_ms, 0u);
  ASSERT_EQ(own_point.flows[0]->flow_points.size(), 1u);
  EXPECT_EQ(own_point.flows[0]->flow_points[0]->repeat_cnt, 2u);
}

// Reading a value must not change the document: an alias read later still sees its anchor.
TEST(FlowConfig, aliases_read_the_value_of_their_anchor) {
  const auto parsed = ParseFlowConfig(
      "workflows:\n- flow_id: f\n  flow_points:\n"
      "  - {point_id: a, on_success: &yes true, repeat_cnt: 2, timeout_ms: 5, optional: *yes}\n");
  ASSERT_EQ(parsed.flows.size(), 1u);
  EXPECT_TRUE(parsed.findings.empty()) << Describe(parsed.findings);
  ASSERT_EQ(parsed.flows[0]->flow_points.size(), 1u);
  const auto& point = *parsed.flows[0]->flow_points[0];
  EXPECT_TRUE(point.on_success);
  EXPECT_EQ(point.repeat_cnt, 2u);
  EXPECT_EQ(point.timeout_ms, 5u);
  EXPECT_FALSE(point.is_critical);
}

TEST(FlowConfig, null_string_values_read_as_the_text_null) {
  const auto parsed = ParseFlowConfig(R"(
workflows:
  - flow_id:
    diag_topic: ~
    flow_points:
      - {point_id: , point_desc: }
)");
  ASSERT_EQ(parsed.flows.size(), 1u);
  EXPECT_EQ(parsed.flows[0]->flow_id, "null");
  EXPECT_EQ(parsed.flows[0]->diag_topic, "null");
  ASSERT_EQ(parsed.flows[0]->flow_points.size(), 1u);
  EXPECT_EQ(parsed.flows[0]->flow_points[0]->point_id, "null");
  EXPECT_EQ(parsed.flows[0]->flow_points[0]->description, "null");
}

struct DroppedEntry {
  const char* name;
  std::string yaml;
  // What survives: the flow ids, and the points of the first flow.
  std::vector<std::string> flows;
  std::vector<std::string> points;
  // The one finding expected.
  FindingSeverity severity;
  FindingCode code;
  int line;
  int column;
  const char* key;
  const char* message_part;
};

void PrintTo(const DroppedEntry& entry, std::ostream* out) {
  *out << entry.name;
}

class DroppedEntries : public ::testing::TestWithParam<DroppedEntry> {};

TEST_P(DroppedEntries, are_reported_with_key_and_position) {
  const DroppedEntry& entry = GetParam();
  const auto parsed = ParseFlowConfig(entry.yaml);
  EXPECT_EQ(FlowIds(parsed), entry.flows);
  if (!parsed.flows.empty()) {
    EXPECT_EQ(PointIds(*parsed.flows[0]), entry.points);
  }
  ASSERT_EQ(parsed.findings.size(), 1u) << Describe(parsed.findings);
  const ConfigFinding& finding = parsed.findings[0];
  EXPECT_EQ(finding.severity, entry.severity);
  EXPECT_EQ(finding.code, entry.code) << Describe(parsed.findings);
  EXPECT_EQ(finding.line, entry.line) << Describe(parsed.findings);
  EXPECT_EQ(finding.column, entry.column) << Describe(parsed.findings);
  EXPECT_EQ(finding.key, entry.key);
  EXPECT_NE(finding.message.find(entry.message_part), std::string::npos) << finding.message;
}

const auto kError = FindingSeverity::kError;
const auto kWarning = FindingSeverity::kWarning;

INSTANTIATE_TEST_SUITE_P(
    FlowConfig, DroppedEntries,
    ::testing::Values(
        DroppedEntry{"negative_repeat_cnt",
                     "workflows:\n- flow_id: f\n  flow_points:\n"
                     "  - {point_id: a, repeat_cnt: -3}\n  - {point_id: b}\n",
                     {"f"},
                     {"b"},
                     kError,
                     C::kOutOfRange,
                     4,
                     31,
                     "repeat_cnt",
                     "'-3'"},
        DroppedEntry{"boolean_without_value",
                     "workflows:\n- flow_id: f\n  flow_points:\n  - {point_id: a, optional: }\n",
                     {"f"},
                     {},
                     kError,
                     C::kWrongType,
                     4,
                     29,
                     "optional",
                     "no value"},
        DroppedEntry{"too_large_for_32_bits",
                     "workflows:\n- flow_id: f\n  flow_points:\n"
                     "  - {point_id: a, repeat_max: 4294967296}\n",
                     {"f"},
                     {},
                     kError,
                     C::kOutOfRange,
                     4,
                     31,
                     "repeat_max",
                     "unsigned 32-bit"},
        DroppedEntry{"first_event_key_wins_even_when_bad",
                     "workflows:\n- flow_id: f\n  flow_points:\n"
                     "  - {point_id: a, event_id: -1, failure_id: 4}\n",
                     {"f"},
                     {},
                     kError,
                     C::kOutOfRange,
                     4,
                     29,
                     "event_id",
                     "'-1'"},
        DroppedEntry{"string_given_a_mapping",
                     "workflows:\n- flow_id: f\n  flow_points:\n"
                     "  - {point_id: a, point_desc: {nested: map}}\n",
                     {"f"},
                     {},
                     kError,
                     C::kWrongType,
                     4,
                     31,
                     "point_desc",
                     "a mapping"},
        DroppedEntry{"point_without_point_id",
                     "workflows:\n- flow_id: f\n  flow_points:\n  - {description: no id}\n",
                     {"f"},
                     {},
                     kError,
                     C::kMissingKey,
                     4,
                     5,
                     "point_id",
                     "without point_id"},
        DroppedEntry{"point_that_is_a_scalar",
                     "workflows:\n- flow_id: f\n  flow_points:\n  - just a scalar\n",
                     {"f"},
                     {},
                     kError,
                     C::kWrongType,
                     4,
                     5,
                     "flow_points",
                     "not a mapping"},
        DroppedEntry{"flow_check_order_no_boolean",
                     "workflows:\n- {flow_id: f, check_order: maybe}\n- {flow_id: kept}\n",
                     {"kept"},
                     {},
                     kError,
                     C::kWrongType,
                     2,
                     29,
                     "check_order",
                     "'maybe'"},
        DroppedEntry{"event_id_beyond_the_event_field",
                     "workflows:\n- {flow_id: f, event_id: 2147483648}\n- {flow_id: kept}\n",
                     {"kept"},
                     {},
                     kError,
                     C::kOutOfRange,
                     2,
                     26,
                     "event_id",
                     "at most 2147483647, found '2147483648'"},
        DroppedEntry{"flow_that_is_a_scalar",
                     "workflows:\n- just a scalar\n- {flow_id: kept}\n",
                     {"kept"},
                     {},
                     kError,
                     C::kWrongType,
                     2,
                     3,
                     "workflows",
                     "not a mapping"},
        DroppedEntry{"flow_that_is_a_list",
                     "workflows:\n- [flow_id, f]\n",
                     {},
                     {},
                     kError,
                     C::kWrongType,
                     2,
                     3,
                     "workflows",
                     "not a mapping"},
        DroppedEntry{"heartbeat_negative_period",
                     "workflows:\n- {flow_id: heartbeat, duration_ms: -5}\n",
                     {},
                     {},
                     kError,
                     C::kOutOfRange,
                     2,
                     37,
                     "duration_ms",
                     "'-5'"},
        DroppedEntry{"flow_points_not_a_sequence",
                     "workflows:\n- {flow_id: f, flow_points: {point_id: a}}\n",
                     {"f"},
                     {},
                     kWarning,
                     C::kWrongType,
                     2,
                     29,
                     "flow_points",
                     "should be a sequence"},
        DroppedEntry{"no_workflows",
                     "other: 1\n",
                     {},
                     {},
                     kError,
                     C::kNotAFlowFile,
                     1,
                     1,
                     "workflows",
                     "no 'workflows' key; its top-level keys are other"},
        DroppedEntry{"workflows_null",
                     "workflows:\n",
                     {},
                     {},
                     kError,
                     C::kNotAFlowFile,
                     1,
                     1,
                     "workflows",
                     "has no value"},
        DroppedEntry{"workflows_not_a_sequence",
                     "workflows: {flow_id: f}\n",
                     {},
                     {},
                     kError,
                     C::kNotAFlowFile,
                     1,
                     12,
                     "workflows",
                     "should be a sequence"},
        DroppedEntry{"document_a_scalar",
                     "just text\n",
                     {},
                     {},
                     kError,
                     C::kNotAFlowFile,
                     1,
                     1,
                     "workflows",
                     "not a mapping with the key 'workflows'"},
        DroppedEntry{"syntax_error",
                     "workflows:\n  - {flow_id: f\n",
                     {},
                     {},
                     kError,
                     C::kNotYaml,
                     3,
                     1,
                     "",
                     "end of map flow not found"},
        DroppedEntry{"nesting_too_deep",
                     std::string(3000, '['),
                     {},
                     {},
                     kError,
                     C::kNotYaml,
                     1,
                     1,
                     "",
                     "nesting too deep"}),
    [](const ::testing::TestParamInfo<DroppedEntry>& info) { return info.param.name; });

TEST(FlowConfig, diagnostics_are_off_by_default_and_read_with_stall_ms) {
  const ParsedFlowConfig plain = ParseFlowConfig("workflows:\n- {flow_id: f}\n");
  EXPECT_FALSE(plain.diagnostics.enabled);
  EXPECT_EQ(plain.diagnostics.period_ms, 1000u);
  EXPECT_EQ(plain.diagnostics.hardware_id, "");
  EXPECT_EQ(plain.flows.at(0)->stall_ms, 0u);

  const ParsedFlowConfig set = ParseFlowConfig(
      "diagnostics: {enabled: yes, period_ms: 100, hardware_id: arm-2}\n"
      "workflows:\n- {flow_id: f, stall_ms: 5000}\n");
  EXPECT_TRUE(set.findings.empty()) << Describe(set.findings);
  EXPECT_TRUE(set.diagnostics.enabled);
  EXPECT_EQ(set.diagnostics.period_ms, 100u);
  EXPECT_EQ(set.diagnostics.hardware_id, "arm-2");
  EXPECT_EQ(set.flows.at(0)->stall_ms, 5000u);
}

TEST(FlowConfig, flows_across_processes_are_off_by_default_and_a_bad_points_topic_keeps_it) {
  const ParsedFlowConfig plain = ParseFlowConfig("workflows:\n- {flow_id: f}\n");
  EXPECT_FALSE(plain.flows.at(0)->remote);
  EXPECT_FALSE(plain.flows.at(0)->check_at_end);
  EXPECT_EQ(plain.points_topic, "kestrune/points");

  const ParsedFlowConfig set = ParseFlowConfig(
      "points_topic: /robot/points\n"
      "workflows:\n- {flow_id: f, remote: yes, check_at_end: true}\n"
      "- {flow_id: g, remote: maybe}\n");
  EXPECT_EQ(set.points_topic, "/robot/points");
  EXPECT_TRUE(set.flows.at(0)->remote);
  EXPECT_TRUE(set.flows.at(0)->check_at_end);
  // A flag that is no boolean drops its flow, as every flow key does.
  EXPECT_EQ(FlowIds(set), std::vector<std::string>{"f"});
  ASSERT_EQ(set.findings.size(), 1u) << Describe(set.findings);
  EXPECT_EQ(set.findings[0].key, "remote");

  for (const char* value : {"[a]", "''"}) {
    const ParsedFlowConfig refused =
        ParseFlowConfig(std::string("workflows: [{flow_id: f}]\npoints_topic: ") + value + "\n");
    ASSERT_EQ(refused.findings.size(), 1u) << value << Describe(refused.findings);
    EXPECT_EQ(refused.findings[0].key, "points_topic");
    EXPECT_EQ(refused.findings[0].line, 2) << value;
    EXPECT_EQ(refused.points_topic, "kestrune/points");
    EXPECT_EQ(FlowIds(refused), std::vector<std::string>{"f"});
  }
}

// A refused diagnostics key keeps its default and costs no flow.
TEST(FlowConfig, refused_diagnostics_keys_keep_their_defaults_with_an_error_naming_them) {
  struct Case {
    const char* section;
    const char* key;
    int column;
    const char* message;
  };
  const Case cases[] = {
      {"period_ms: 99", "period_ms", 26,
       "period_ms 99 is outside 100 to 4000; the default 1000 is used"},
      {"period_ms: 4001", "period_ms", 26,
       "period_ms 4001 is outside 100 to 4000; the default 1000 is used"},
      {"period_ms: -5", "period_ms", 26,
       "period_ms should be a whole number from 100 to 4000, found '-5'; the default 1000 is "
       "used"},
      {"enabled: maybe", "enabled", 24,
       "enabled should be a boolean (true/false, yes/no, on/off), found 'maybe'; the default "
       "false is used"},
      {"hardware_id: ''", "hardware_id", 28,
       "hardware_id should not be empty; the node's name is used"},
      {"hardware_id: [a]", "hardware_id", 28,
       "hardware_id should be a string, found a sequence; the node's name is used"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section);
    const ParsedFlowConfig parsed = ParseFlowConfig(std::string("workflows: [{flow_id: f}]\n") +
                                                    "diagnostics: {" + c.section + "}\n");
    ASSERT_EQ(parsed.findings.size(), 1u) << Describe(parsed.findings);
    EXPECT_EQ(parsed.findings[0].severity, FindingSeverity::kError);
    EXPECT_EQ(parsed.findings[0].key, c.key);
    EXPECT_EQ(parsed.findings[0].line, 2);
    EXPECT_EQ(parsed.findings[0].column, c.column);
    EXPECT_EQ(parsed.findings[0].message, c.message);
    EXPECT_EQ(parsed.diagnostics.period_ms, 1000u);
    EXPECT_EQ(parsed.diagnostics.hardware_id, "");
    EXPECT_EQ(FlowIds(parsed), std::vector<std::string>{"f"});
  }
  const ParsedFlowConfig list = ParseFlowConfig("workflows: [{flow_id: f}]\ndiagnostics: [1]\n");
  ASSERT_EQ(list.findings.size(), 1u) << Describe(list.findings);
  EXPECT_EQ(list.findings[0].message,
            "diagnostics should be a mapping, found a sequence; the defaults are used");
  EXPECT_FALSE(list.diagnostics.enabled);
}

TEST(FlowConfig, parsing_writes_no_log_line) {
  kestrune_test::CapturedLog log;
  ParseFlowConfig("workflows:\n- {flow_id: f, check_order: maybe}\n- {flow_id: g}\n");
  ParseFlowConfig("{");
  EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
