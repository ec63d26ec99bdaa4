// The checks of flow configuration files: one small file per slip, with the
// findings expected (severity, position, key) and kestrune_flow's exit status.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <yaml-cpp/yaml.h>
#include <kestrune_diagnostic_trace/flow_config_lint.hpp>
#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <rclcpp/rclcpp.hpp>

#include "kestrune_test/child_process.hpp"
#include "support/captured_log.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::ConfigFinding;
using kestrune::trace::FindingSeverity;
using kestrune::trace::FlowTrace;
using kestrune::trace::LintFlowConfig;
using kestrune_test::CapturedLog;
using kestrune_test::ChildProcess;
using kestrune_test::TempFile;

constexpr auto E = FindingSeverity::kError;
constexpr auto W = FindingSeverity::kWarning;

struct Expected {
  FindingSeverity severity;
  int line;
  int column;
  std::string key;
};

struct Case {
  const char* name;
  std::string yaml;
  std::vector<Expected> findings;
  int exit_status;
};

std::string Describe(const std::vector<ConfigFinding>& findings) {
  std::string text;
  for (const auto& f : findings) {
    text += (f.severity == E ? "  error " : "  warning ") + std::to_string(f.line) + ":" +
            std::to_string(f.column) + " [" + f.key + "] " + f.message + "\n";
  }
  return text;
}

struct LintRun {
  int exit_status;
  std::string output;
};

LintRun RunLint(std::vector<std::string> args) {
  args.insert(args.begin(), {KESTRUNE_FLOW, "lint"});
  ChildProcess lint(args);
  const auto status = lint.wait_for_exit(std::chrono::seconds(30));
  return {status.value_or(-1), lint.output()};
}

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases{
      // --- What Init refuses, drops or throws on --------------------------------------
      {"yaml_syntax", "workflows:\n  - {flow_id: a\n", {{E, 3, 1, ""}}, 1},
      {"no_workflows", "flows: []\n", {{E, 1, 1, "workflows"}, {W, 1, 1, "flows"}}, 1},
      {"null_workflows", "workflows:\n", {{E, 1, 1, "workflows"}}, 1},
      {"workflows_not_a_sequence", "workflows: {flow_id: a}\n", {{E, 1, 12, "workflows"}}, 1},
      {"flow_not_a_mapping", "workflows:\n  - just text\n", {{E, 2, 5, "workflows"}}, 1},
      {"flow_without_id",
       "workflows:\n  - flow_name: x\n    flow_points: [{point_id: a}]\n",
       {{E, 2, 5, "flow_id"}},
       1},
      {"empty_flow_id",
       "workflows:\n  - flow_id: ''\n    flow_points: [{point_id: a}]\n",
       {{E, 2, 14, "flow_id"}},
       1},
      {"point_without_id",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - {event_id: 3}\n",
       {{E, 4, 9, "point_id"}},
       1},
      {"text_for_a_number",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - {point_id: p, repeat_cnt: abc}\n",
       {{E, 4, 35, "repeat_cnt"}},
       1},
      {"negative_number",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - {point_id: p, timeout_ms: -1}\n",
       {{E, 4, 35, "timeout_ms"}},
       1},
      {"number_out_of_range",
       "workflows:\n  - flow_id: a\n    flow_points:\n"
       "      - {point_id: p, repeat_max: 4294967296}\n",
       {{E, 4, 35, "repeat_max"}},
       1},
      {"event_id_above_int32",
       "workflows:\n  - flow_id: a\n    flow_points:\n"
       "      - {point_id: p, event_id: 2147483648}\n",
       {{E, 4, 33, "event_id"}},
       1},
      {"word_for_a_boolean",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - {point_id: p, optional: maybe}\n",
       {{E, 4, 33, "optional"}},
       1},
      {"bare_boolean",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - point_id: p\n        on_success:\n",
       {{E, 5, 9, "on_success"}},
       1},
      {"flow_key_that_does_not_convert",
       "workflows:\n  - flow_id: a\n    check_order: sometimes\n    flow_points: [{point_id: p}]\n",
       {{E, 3, 18, "check_order"}},
       1},
      {"invalid_topic",
       "workflows:\n  - flow_id: a\n    diag_topic: 'bad topic!'\n    flow_points: [{point_id: "
       "p}]\n",
       {{E, 3, 17, "diag_topic"}},
       1},
      {"invalid_points_topic",
       "points_topic: robot//points\nworkflows:\n"
       "  - {flow_id: a, remote: true, flow_points: [{point_id: p}]}\n",
       {{E, 1, 15, "points_topic"}},
       1},
      {"invalid_points_topic_without_a_remote_flow",
       "points_topic: robot//points\nworkflows:\n  - {flow_id: a, flow_points: [{point_id: p}]}\n",
       {{W, 1, 15, "points_topic"}},
       0},
      {"unknown_topic_substitution",
       "workflows:\n  - flow_id: a\n    diag_topic: '{robot}/events'\n"
       "    flow_points: [{point_id: p}]\n",
       {{E, 3, 17, "diag_topic"}},
       1},
      {"duplicate_flow_id",
       "workflows:\n  - {flow_id: a, flow_points: [{point_id: p}]}\n"
       "  - {flow_id: a, flow_points: [{point_id: q}]}\n",
       {{E, 3, 6, "flow_id"}},
       1},

      // --- What Init accepts but cannot be meant -------------------------------------
      {"misspelt_keys",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - point_id: p\n"
       "        repeat_count: 2\n        optinal: true\n        on_sucess: true\n",
       {{W, 5, 9, "repeat_count"}, {W, 6, 9, "optinal"}, {W, 7, 9, "on_sucess"}},
       0},
      {"misspelt_flow_id",
       "workflows:\n  - flowid: a\n    flow_points: [{point_id: p}]\n",
       {{E, 2, 5, "flow_id"}, {W, 2, 5, "flowid"}},
       1},
      {"key_of_the_wrong_level",
       "workflows:\n  - flow_id: a\n    point_id: p\n    flow_points: [{point_id: p}]\n",
       {{W, 3, 5, "point_id"}},
       0},
      {"unknown_top_level_key",
       "workflow: []\nworkflows:\n  - {flow_id: a, flow_points: [{point_id: p}]}\n",
       {{W, 1, 1, "workflow"}},
       0},
      {"faliure_id",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - {point_id: p, faliure_id: 4}\n",
       {{W, 4, 23, "faliure_id"}},
       0},
      {"empty_flow_points",
       "workflows:\n  - flow_id: a\n    flow_points: []\n",
       {{W, 3, 5, "flow_points"}},
       0},
      {"flow_points_not_a_sequence",
       "workflows:\n  - flow_id: a\n    flow_points: {point_id: p}\n",
       {{W, 3, 18, "flow_points"}},
       0},
      {"bare_topic",
       "workflows:\n  - flow_id: a\n    diag_topic:\n    flow_points: [{point_id: p}]\n",
       {{W, 3, 5, "diag_topic"}},
       0},
      {"timeouts_without_effect",
       "workflows:\n  - flow_id: a\n    flow_points:\n"
       "      - {point_id: once, event_id: 1, on_timeout: true, timeout_ms: 10}\n"
       "      - {point_id: quiet, event_id: 2, repeat_cnt: 2, timeout_ms: 10}\n"
       "      - {point_id: no_limit, event_id: 3, repeat_cnt: 2, on_timeout: true}\n"
       "  - flow_id: b\n    check_order: false\n    flow_points:\n"
       "      - {point_id: any, event_id: 4, repeat_cnt: 2, on_timeout: true, timeout_ms: 10}\n",
       {{W, 4, 57, "timeout_ms"},
        {W, 5, 55, "timeout_ms"},
        {W, 6, 58, "on_timeout"},
        {W, 10, 71, "timeout_ms"}},
       0},
      {"run_keys_on_the_heartbeat",
       "workflows:\n  - {flow_id: heartbeat, duration_ms: 100, remote: true, check_at_end: true}\n",
       {{W, 2, 44, "remote"}, {W, 2, 58, "check_at_end"}},
       0},
      {"repeat_max_below_repeat_cnt",
       "workflows:\n  - flow_id: a\n    flow_points:\n"
       "      - {point_id: p, repeat_cnt: 3, repeat_max: 2}\n"
       "  - flow_id: heartbeat\n    flow_points:\n"
       "      - {point_id: heartbeat, repeat_cnt: 3, repeat_max: 2}\n",
       {{W, 4, 38, "repeat_max"}},
       0},
      {"reporting_switch_without_event_id",
       "workflows:\n  - flow_id: a\n    flow_points:\n"
       "      - {point_id: p, on_success: true, on_failure: true}\n"
       "      - {point_id: q, event_id: 0, on_timeout: true, timeout_ms: 5, repeat_cnt: 2}\n",
       {{W, 4, 23, "on_success"}, {W, 4, 41, "on_failure"}, {W, 5, 36, "on_timeout"}},
       0},
      {"event_id_twice_on_one_topic",
       "workflows:\n  - flow_id: a\n    diag_topic: /t\n    flow_points:\n"
       "      - {point_id: p, event_id: 7}\n"
       "  - flow_id: b\n    diag_topic: /t\n    flow_points:\n"
       "      - {point_id: q, event_id: 7}\n"
       "  - flow_id: c\n    diag_topic: /other\n    flow_points:\n"
       "      - {point_id: r, event_id: 7}\n",
       {{W, 9, 23, "event_id"}},
       0},
      {"duration_outside_heartbeat",
       "workflows:\n  - flow_id: a\n    duration_ms: 100\n    flow_points: [{point_id: p}]\n",
       {{W, 3, 5, "duration_ms"}},
       0},
      {"stall_on_heartbeat_and_slips_in_diagnostics",
       "diagnostics: {enabled: true, hardwre_id: arm, period_ms: 50}\n"
       "workflows:\n  - flow_id: heartbeat\n    duration_ms: 100\n    stall_ms: 10\n",
       {{W, 1, 30, "hardwre_id"}, {E, 1, 58, "period_ms"}, {W, 5, 5, "stall_ms"}},
       1},
      {"clean",
       "diagnostics: {enabled: true, period_ms: 500, hardware_id: arm-2}\n"
       "workflows:\n  - flow_id: heartbeat\n    duration_ms: 100\n"
       "  - flow_id: a\n    diag_topic: relative/name\n    flow_points:\n"
       "      - {point_id: p, event_id: 1, on_success: true}\n"
       "      - {point_id: r, event_id: 2, repeat_cnt: 2, timeout_ms: 5, on_timeout: true}\n",
       {},
       0},
  };
  return cases;
}

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

class LintTable : public ::testing::TestWithParam<Case> {};

TEST_P(LintTable, finds_what_is_expected_and_exits_accordingly) {
  const Case& c = GetParam();
  const auto findings = LintFlowConfig(c.yaml);
  std::vector<std::tuple<FindingSeverity, int, int, std::string>> got;
  for (const auto& f : findings) {
    got.emplace_back(f.severity, f.line, f.column, f.key);
    EXPECT_FALSE(f.message.empty());
  }
  std::vector<std::tuple<FindingSeverity, int, int, std::string>> expected;
  for (const auto& e : c.findings) {
    expected.emplace_back(e.severity, e.line, e.column, e.key);
  }
  EXPECT_EQ(got, expected) << c.yaml << "found:\n" << Describe(findings);

  TempFile file(c.yaml);
  EXPECT_EQ(RunLint({file.path()}).exit_status, c.exit_status);
}

INSTANTIATE_TEST_SUITE_P(Slips, LintTable, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LintMessages, name_the_key_the_value_and_what_was_expected) {
  auto message_of = [](const std::string& yaml) {
    const auto findings = LintFlowConfig(yaml);
    return findings.empty() ? std::string() : findings.front().message;
  };
  const std::string wrong_type =
      message_of("workflows:\n  - flow_id: a\n    flow_points: [{point_id: p, repeat_cnt: abc}]\n");
  EXPECT_NE(wrong_type.find("repeat_cnt"), std::string::npos) << wrong_type;
  EXPECT_NE(wrong_type.find("abc"), std::string::npos) << wrong_type;
  EXPECT_NE(wrong_type.find("unsigned"), std::string::npos) << wrong_type;

  EXPECT_EQ(message_of("workflows:\n  - flow_id: a\n    flow_points:\n"
                       "      - {point_id: p, repeat_count: 2}\n"),
            "unknown key 'repeat_count'; did you mean 'repeat_cnt'?");
  const std::string topic =
      message_of("workflows:\n  - {flow_id: a, diag_topic: 'bad topic!', flow_points: []}\n");
  EXPECT_NE(topic.find("'bad topic!'"), std::string::npos) << topic;
}

TEST(LintProgram, prints_findings_as_compilers_do_and_as_json) {
  TempFile file(
      "workflows:\n  - flow_id: a\n    flow_points:\n"
      "      - {point_id: p, optinal: true}\n      - {point_id: q, repeat_cnt: -1}\n");
  const LintRun text = RunLint({file.path()});
  EXPECT_EQ(text.exit_status, 1);
  EXPECT_NE(text.output.find(file.path() + ":4:23: warning: unknown key 'optinal'; did you mean "
                                           "'optional'?\n"),
            std::string::npos)
      << text.output;
  EXPECT_NE(text.output.find(file.path() + ":5:35: error: "), std::string::npos) << text.output;

  const LintRun json = RunLint({file.path(), "--format", "json"});
  EXPECT_EQ(json.exit_status, 1);
  EXPECT_EQ(json.output.front(), '[');
  EXPECT_NE(json.output.find("\"line\": 4, \"column\": 23, \"severity\": \"warning\", \"key\": "
                             "\"optinal\""),
            std::string::npos)
      << json.output;
  EXPECT_NE(json.output.find("\"severity\": \"error\", \"key\": \"repeat_cnt\""), std::string::npos)
      << json.output;
}

TEST(LintProgram, werror_fails_on_warnings_and_unreadable_files_and_usage_give_2) {
  TempFile warned("workflows:\n  - {flow_id: a, flow_points: [{point_id: p, optinal: true}]}\n");
  TempFile clean("workflows:\n  - {flow_id: a, flow_points: [{point_id: p}]}\n");
  EXPECT_EQ(RunLint({warned.path()}).exit_status, 0);
  const LintRun strict = RunLint({warned.path(), "--werror"});
  EXPECT_EQ(strict.exit_status, 1);
  EXPECT_NE(strict.output.find(": error: unknown key 'optinal'"), std::string::npos)
      << strict.output;
  EXPECT_EQ(RunLint({clean.path(), "--werror"}).exit_status, 0);

  // Every file is linted even when one cannot be read.
  const LintRun missing = RunLint({"/nonexistent/flow.yaml", warned.path()});
  EXPECT_EQ(missing.exit_status, 2);
  EXPECT_NE(missing.output.find("optinal"), std::string::npos) << missing.output;
  EXPECT_EQ(RunLint({"/tmp"}).exit_status, 2);
  EXPECT_EQ(RunLint({}).exit_status, 2);
  EXPECT_EQ(RunLint({clean.path(), "--format", "xml"}).exit_status, 2);
  EXPECT_EQ(RunLint({clean.path(), "--bogus"}).exit_status, 2);
}

TEST(LintLibrary, reads_files_and_reports_one_that_cannot_be_read) {
  TempFile file("workflows:\n  - {flow_id: a, flow_points: [{point_id: p, optinal: true}]}\n");
  const auto findings = kestrune::trace::LintFlowConfigFile(file.path());
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].key, "optinal");
  EXPECT_FALSE(kestrune::trace::HasErrors(findings));
  EXPECT_TRUE(kestrune::trace::HasErrors(findings, true));

  const auto unreadable = kestrune::trace::LintFlowConfigFile("/nonexistent/flow.yaml");
  ASSERT_EQ(unreadable.size(), 1u);
  EXPECT_EQ(unreadable[0].severity, E);
  EXPECT_EQ(unreadable[0].line, 0);
  EXPECT_NE(unreadable[0].message.find("/nonexistent/flow.yaml"), std::string::npos);
}

// --- The schema and the parser ------------------------------------------------------

std::vector<std::string> KeysOf(const YAML::Node& properties) {
  std::vector<std::string> keys;
  for (const auto& entry : properties) {
    keys.push_back(entry.first.as<std::string>());
  }
  return keys;
}

bool HasFinding(const std::vector<ConfigFinding>& findings, FindingSeverity severity,
                const std::string& key) {
  for (const auto& finding : findings) {
    if (finding.severity == severity && finding.key == key) {
      return true;
    }
  }
  return false;
}

TEST(LintSchema, the_schema_and_the_parser_know_the_same_keys) {
  const YAML::Node schema =
      YAML::LoadFile(KESTRUNE_TEST_SOURCE_DIR "/schema/flow_config.schema.json");
  EXPECT_EQ(KeysOf(schema["properties"]),
            (std::vector<std::string>{"workflows", "diagnostics", "points_topic"}));
  const auto diagnostics_keys = KeysOf(schema["properties"]["diagnostics"]["properties"]);
  const auto flow_keys = KeysOf(schema["definitions"]["flow"]["properties"]);
  const auto point_keys = KeysOf(schema["definitions"]["point"]["properties"]);
  EXPECT_EQ(diagnostics_keys.size(), 3u);
  EXPECT_EQ(flow_keys.size(), 13u);
  EXPECT_EQ(point_keys.size(), 14u);

  // The parser reads every key of the schema: a mapping where a value belongs is
  // an error naming the key. The lint knows each of them.
  auto expect_read = [](const std::string& key, const std::string& yaml) {
    EXPECT_TRUE(HasFinding(kestrune::trace::ParseFlowConfig(yaml).findings, E, key))
        << key << " is not read by the parser:\n"
        << yaml;
    for (const auto& finding : LintFlowConfig(yaml)) {
      EXPECT_EQ(finding.message.find("unknown key"), std::string::npos) << finding.message;
    }
  };
  for (const auto& key : diagnostics_keys) {
    expect_read(key, "workflows: [{flow_id: a}]\ndiagnostics: {" + key + ": {x: 1}}\n");
  }
  expect_read("points_topic", "workflows: [{flow_id: a}]\npoints_topic: {x: 1}\n");
  for (const auto& key : flow_keys) {
    if (key == "flow_points") {
      continue;  // a flow without a point list is valid; read through the points below
    }
    expect_read(key, key == "flow_id" ? "workflows: [{flow_id: {x: 1}}]\n"
                                      : "workflows: [{flow_id: heartbeat, " + key + ": {x: 1}}]\n");
  }
  for (const auto& key : point_keys) {
    expect_read(key, key == "point_id" ? "workflows: [{flow_id: a, flow_points: [{point_id: "
                                         "{x: 1}}]}]\n"
                                       : "workflows: [{flow_id: a, flow_points: [{point_id: p, " +
                                             key + ": {x: 1}}]}]\n");
  }

  // Keys outside the schema are neither read nor known.
  for (const std::string key : {"flow_idx", "repeat", "timeout"}) {
    const std::string yaml =
        "workflows: [{flow_id: a, flow_points: [{point_id: p, " + key + ": {x: 1}}]}]\n";
    EXPECT_TRUE(kestrune::trace::ParseFlowConfig(yaml).findings.empty()) << key;
    EXPECT_TRUE(HasFinding(LintFlowConfig(yaml), W, key)) << key;
  }
}

// --- Lint against Init ----------------------------------------------------------------

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

/// Whether Init, given a node as on a robot, refuses some of the file: it throws,
/// logs an error, loads a flow under the empty id, or keeps fewer flows than it
/// parsed (a later flow replaced an earlier one of the same id).
bool InitRefuses(const std::string& path, const std::shared_ptr<rclcpp::Node>& node,
                 std::string& log_text) {
  CapturedLog log;
  bool threw = false;
  try {
    FlowTrace::GetInstance()->Init(path, node);
  } catch (const std::exception& e) {
    threw = true;
    log_text += std::string("threw: ") + e.what() + "\n";
  }
  size_t parsed_flows = 0;
  bool logged_error = false;
  for (const auto& line : log.Lines()) {
    if (StartsWith(line, "[ERROR]")) {
      logged_error = true;
      log_text += line + "\n";
    }
    parsed_flows += StartsWith(line, "[DEBUG] Parsed trace flow config:") ? 1 : 0;
  }
  const auto flows = FlowTrace::GetInstance()->GetTraceFlows();
  return threw || logged_error || flows.count("") != 0 || (!threw && flows.size() < parsed_flows);
}

std::vector<std::string> FilesIn(const std::string& directory) {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().extension() == ".yaml") {
      paths.push_back(entry.path().string());
    }
  }
  return paths;
}

TEST(LintAgainstInit, a_file_has_lint_errors_exactly_when_init_refuses_part_of_it) {
  auto node = std::make_shared<rclcpp::Node>("lint_against_init");
  std::vector<std::string> paths;
  for (const char* directory :
       {"/test/fuzz/corpus", "/test/flow_configs", "/config", "/examples"}) {
    const auto found = FilesIn(KESTRUNE_TEST_SOURCE_DIR + std::string(directory));
    paths.insert(paths.end(), found.begin(), found.end());
  }
  std::vector<std::unique_ptr<TempFile>> table_files;
  for (const auto& c : Cases()) {
    table_files.push_back(std::make_unique<TempFile>(c.yaml));
    paths.push_back(table_files.back()->path());
  }
  for (const auto& path : paths) {
    const auto findings = kestrune::trace::LintFlowConfigFile(path);
    std::string init_log;
    const bool refused = InitRefuses(path, node, init_log);
    EXPECT_EQ(kestrune::trace::HasErrors(findings), refused) << path << "\nlint:\n"
                                                             << Describe(findings) << "Init:\n"
                                                             << init_log;
  }
  // A running heartbeat thread stops after its period.
  TempFile stop("workflows: [{flow_id: heartbeat, duration_ms: 0}]\n");
  FlowTrace::GetInstance()->Init(stop.path(), node);
}

}  // namespace

int main(int argc, char** argv) {
  // The facade reads its level once, at the first line; Init's flow lines are debug lines.
  setenv("SPDLOG_LEVEL", "debug", 1);
  rclcpp::init(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  rclcpp::shutdown();
  return result;
}
