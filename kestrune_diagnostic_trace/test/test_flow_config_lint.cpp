// The checks of flow configuration files: one small file per slip, with the
// findings expected (severity, code, position, key) and kestrune_flow's exit
// status; the program's output and options; and one walk over every flow file
// of the package and the table's rows that holds show, Init and the JSON
// Schema to the lint.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <fmt/format.h>
#include <kestrune_diagnostic_trace/flow_config_lint.hpp>
#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <rclcpp/rclcpp.hpp>

#include "flow_show.hpp"
#include "kestrune_test/child_process.hpp"
#include "support/captured_log.hpp"
#include "support/same_config.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::ConfigFinding;
using kestrune::trace::FindingCode;
using kestrune::trace::FindingSeverity;
using kestrune::trace::FlowTrace;
using kestrune::trace::LintFlowConfig;
using kestrune::trace::ParsedFlowConfig;
using kestrune_test::CapturedLog;
using kestrune_test::ChildProcess;
using kestrune_test::TempFile;

constexpr auto E = FindingSeverity::kError;
constexpr auto W = FindingSeverity::kWarning;
using C = FindingCode;

struct Expected {
  FindingSeverity severity;
  FindingCode code;
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

/// `text` with every byte beyond ASCII written as \xNN: a test's output must
/// stay UTF-8 whatever the files held.
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    escaped += byte < 0x80 ? std::string(1, c) : fmt::format("\\x{:02x}", byte);
  }
  return escaped;
}

std::string Describe(const std::vector<ConfigFinding>& findings) {
  std::string text;
  for (const auto& f : findings) {
    text += (f.severity == E ? "  error " : "  warning ") + std::to_string(f.line) + ":" +
            std::to_string(f.column) + " " + kestrune::trace::FindingCodeName(f.code) + " [" +
            f.key + "] " + f.message + "\n";
  }
  return Escaped(text);
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
      {"yaml_syntax", "workflows:\n  - {flow_id: a\n", {{E, C::kNotYaml, 3, 1, ""}}, 1},
      {"empty_file", "# nothing yet\n", {{E, C::kEmptyFile, 0, 0, ""}}, 1},
      {"not_a_flow_file",
       "analyzers:\n  flows: {type: x}\nworkflow: []\n",
       {{E, C::kNotAFlowFile, 1, 1, "workflows"}, {W, C::kUnknownKey, 3, 1, "workflow"}},
       1},
      {"null_workflows", "workflows:\n", {{E, C::kNotAFlowFile, 1, 1, "workflows"}}, 1},
      {"workflows_not_a_sequence",
       "workflows: {flow_id: a}\n",
       {{E, C::kNotAFlowFile, 1, 12, "workflows"}},
       1},
      {"flow_not_a_mapping",
       "workflows:\n  - just text\n",
       {{E, C::kWrongType, 2, 5, "workflows"}},
       1},
      {"flow_without_id",
       "workflows:\n  - flow_name: x\n    flow_points: [{point_id: a}]\n",
       {{E, C::kMissingKey, 2, 5, "flow_id"}},
       1},
      {"empty_flow_id",
       "workflows:\n  - flow_id: ''\n    flow_points: [{point_id: a}]\n",
       {{E, C::kEmptyValue, 2, 14, "flow_id"}},
       1},
      {"point_without_id",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - {event_id: 3}\n",
       {{E, C::kMissingKey, 4, 9, "point_id"}},
       1},
      {"text_for_a_number",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - {point_id: p, repeat_cnt: abc}\n",
       {{E, C::kWrongType, 4, 35, "repeat_cnt"}},
       1},
      {"negative_number",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - {point_id: p, timeout_ms: -1}\n",
       {{E, C::kOutOfRange, 4, 35, "timeout_ms"}},
       1},
      {"number_out_of_range",
       "workflows:\n  - flow_id: a\n    flow_points:\n"
       "      - {point_id: p, repeat_max: 4294967296}\n",
       {{E, C::kOutOfRange, 4, 35, "repeat_max"}},
       1},
      {"event_id_above_int32",
       "workflows:\n  - flow_id: a\n    flow_points:\n"
       "      - {point_id: p, event_id: 2147483648}\n",
       {{E, C::kOutOfRange, 4, 33, "event_id"}},
       1},
      {"word_for_a_boolean",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - {point_id: p, optional: maybe}\n",
       {{E, C::kWrongType, 4, 33, "optional"}},
       1},
      {"bare_boolean",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - point_id: p\n        on_success:\n",
       {{E, C::kWrongType, 5, 9, "on_success"}},
       1},
      {"flow_key_that_does_not_convert",
       "workflows:\n  - flow_id: a\n    check_order: sometimes\n    flow_points: [{point_id: p}]\n",
       {{E, C::kWrongType, 3, 18, "check_order"}},
       1},
      {"invalid_topic",
       "workflows:\n  - flow_id: a\n    diag_topic: 'bad topic!'\n    flow_points: [{point_id: "
       "p}]\n",
       {{E, C::kInvalidTopic, 3, 17, "diag_topic"}},
       1},
      {"invalid_points_topic",
       "points_topic: robot//points\nworkflows:\n"
       "  - {flow_id: a, remote: true, flow_points: [{point_id: p}]}\n",
       {{E, C::kInvalidTopic, 1, 15, "points_topic"}},
       1},
      {"unknown_topic_substitution",
       "workflows:\n  - flow_id: a\n    diag_topic: '{robot}/events'\n"
       "    flow_points: [{point_id: p}]\n",
       {{E, C::kInvalidTopic, 3, 17, "diag_topic"}},
       1},
      {"namespace_inside_a_topic",
       "workflows:\n  - flow_id: a\n    diag_topic: /robot/diag/{ns}/x\n"
       "    flow_points: [{point_id: p}]\n",
       {{E, C::kInvalidTopic, 3, 17, "diag_topic"}},
       1},
      {"duplicate_flow_id",
       "workflows:\n  - {flow_id: a, flow_points: [{point_id: p}]}\n"
       "  - {flow_id: a, flow_points: [{point_id: q}]}\n",
       {{E, C::kDuplicateFlowId, 3, 6, "flow_id"}},
       1},

      // --- YAML that Init reads otherwise than editors do ------------------------------
      {"second_document",
       "workflows:\n  - {flow_id: a, flow_points: [{point_id: p}]}\n---\nworkflows: []\n",
       {{E, C::kSeveralDocuments, 3, 1, ""}},
       1},
      {"duplicate_key",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - point_id: p\n"
       "        event_id: 2101\n        event_id: 2999\n",
       {{E, C::kDuplicateKey, 6, 9, "event_id"}},
       1},
      {"merge_key",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - &first {point_id: p, event_id: 4}\n"
       "      - <<: *first\n        point_id: q\n",
       {{E, C::kMergeKey, 5, 9, "<<"}},
       1},
      {"not_utf8",
       "workflows:\n  - flow_id: caf\xe9\n    flow_points: [{point_id: p}]\n",
       {{E, C::kNotUtf8, 2, 17, ""}},
       1},

      // --- What Init accepts but cannot be meant -------------------------------------
      {"misspelt_keys",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - point_id: p\n"
       "        repeat_count: 2\n        optinal: true\n        on_sucess: true\n",
       {{W, C::kUnknownKey, 5, 9, "repeat_count"},
        {W, C::kUnknownKey, 6, 9, "optinal"},
        {W, C::kUnknownKey, 7, 9, "on_sucess"}},
       0},
      {"misspelt_flow_id",
       "workflows:\n  - flowid: a\n    flow_points: [{point_id: p}]\n",
       {{E, C::kMissingKey, 2, 5, "flow_id"}, {W, C::kUnknownKey, 2, 5, "flowid"}},
       1},
      {"key_of_the_wrong_level",
       "workflows:\n  - flow_id: a\n    point_id: p\n    flow_points: [{point_id: p}]\n",
       {{W, C::kUnknownKey, 3, 5, "point_id"}},
       0},
      {"unknown_top_level_key",
       "workflow: []\nworkflows:\n  - {flow_id: a, flow_points: [{point_id: p}]}\n",
       {{W, C::kUnknownKey, 1, 1, "workflow"}},
       0},
      {"older_spellings",
       "workflows:\n  - flow_id: a\n    flow_points:\n      - {point_id: p, faliure_id: 4}\n"
       "      - {point_id: q, event_id: 5, failure_id: 6}\n",
       {{W, C::kOldSpelling, 4, 23, "faliure_id"}, {W, C::kNoEffect, 5, 36, "failure_id"}},
       0},
      {"empty_flow_points",
       "workflows:\n  - flow_id: a\n    flow_points: []\n",
       {{W, C::kNoPoints, 3, 5, "flow_points"}},
       0},
      {"flow_points_not_a_sequence",
       "workflows:\n  - flow_id: a\n    flow_points: {point_id: p}\n",
       {{W, C::kWrongType, 3, 18, "flow_points"}},
       0},
      {"bare_topic",
       "workflows:\n  - flow_id: a\n    diag_topic:\n    flow_points: [{point_id: p}]\n",
       {{W, C::kNoValue, 3, 5, "diag_topic"}},
       0},
      {"timeouts_without_effect",
       "workflows:\n  - flow_id: a\n    flow_points:\n"
       "      - {point_id: once, event_id: 1, on_timeout: true, timeout_ms: 10}\n"
       "      - {point_id: quiet, event_id: 2, repeat_cnt: 2, timeout_ms: 10}\n"
       "      - {point_id: no_limit, event_id: 3, repeat_cnt: 2, on_timeout: true}\n"
       "  - flow_id: b\n    check_order: false\n    flow_points:\n"
       "      - {point_id: any, event_id: 4, repeat_cnt: 2, on_timeout: true, timeout_ms: 10}\n",
       {{W, C::kNoEffect, 4, 57, "timeout_ms"},
        {W, C::kNoEffect, 5, 55, "timeout_ms"},
        {W, C::kNoEffect, 6, 58, "on_timeout"},
        {W, C::kNoEffect, 10, 71, "timeout_ms"}},
       0},
      {"run_keys_on_the_heartbeat",
       "workflows:\n  - {flow_id: heartbeat, duration_ms: 100, remote: true, check_at_end: true}\n",
       {{W, C::kNoEffect, 2, 44, "remote"}, {W, C::kNoEffect, 2, 58, "check_at_end"}},
       0},
      {"repeat_max_below_repeat_cnt",
       "workflows:\n  - flow_id: a\n    flow_points:\n"
       "      - {point_id: p, repeat_cnt: 3, repeat_max: 2}\n"
       "  - flow_id: heartbeat\n    flow_points:\n"
       "      - {point_id: heartbeat, repeat_cnt: 3, repeat_max: 2}\n",
       {{W, C::kNoEffect, 4, 38, "repeat_max"}},
       0},
      {"reporting_switch_without_event_id",
       "workflows:\n  - flow_id: a\n    flow_points:\n"
       "      - {point_id: p, on_success: true, on_failure: true}\n"
       "      - {point_id: q, event_id: 0, on_timeout: true, timeout_ms: 5, repeat_cnt: 2}\n",
       {{W, C::kNoEffect, 4, 23, "on_success"},
        {W, C::kNoEffect, 4, 41, "on_failure"},
        {W, C::kNoEffect, 5, 36, "on_timeout"}},
       0},
      {"event_id_twice_on_one_topic",
       "workflows:\n  - flow_id: a\n    diag_topic: /t\n    flow_points:\n"
       "      - {point_id: p, event_id: 7}\n"
       "  - flow_id: b\n    diag_topic: /t\n    flow_points:\n"
       "      - {point_id: q, event_id: 7}\n"
       "  - flow_id: c\n    diag_topic: /other\n    flow_points:\n"
       "      - {point_id: r, event_id: 7}\n",
       {{W, C::kDuplicateEventId, 9, 23, "event_id"}},
       0},
      {"duration_outside_heartbeat",
       "workflows:\n  - flow_id: a\n    duration_ms: 100\n    flow_points: [{point_id: p}]\n",
       {{W, C::kNoEffect, 3, 5, "duration_ms"}},
       0},
      {"budget_event_without_budget_or_topic",
       "workflows:\n  - flow_id: a\n    budget_event_id: 5\n    diag_topic: /t\n"
       "    flow_points: [{point_id: p}]\n"
       "  - flow_id: b\n    budget_ms: 10\n    budget_event_id: 6\n"
       "    flow_points: [{point_id: p}]\n",
       {{W, C::kNoEffect, 3, 5, "budget_event_id"}, {W, C::kNoEffect, 8, 5, "budget_event_id"}},
       0},
      {"heartbeat_point_never_reached",
       "workflows:\n  - flow_id: heartbeat\n    duration_ms: 100\n    flow_points:\n"
       "      - {point_id: beat, event_id: 3, on_success: true}\n",
       {{W, C::kUnreachablePoint, 5, 9, "point_id"}},
       0},
      {"stall_on_heartbeat_and_slips_in_diagnostics",
       "diagnostics: {enabled: true, hardwre_id: arm, period_ms: 50}\n"
       "workflows:\n  - flow_id: heartbeat\n    duration_ms: 100\n    stall_ms: 10\n",
       {{W, C::kUnknownKey, 1, 30, "hardwre_id"},
        {E, C::kOutOfRange, 1, 58, "period_ms"},
        {W, C::kNoEffect, 5, 5, "stall_ms"}},
       1},
      {"clean",
       "diagnostics: {enabled: true, period_ms: 500, hardware_id: arm-2}\n"
       "workflows:\n  - flow_id: heartbeat\n    duration_ms: 100\n"
       "  - flow_id: a\n    diag_topic: relative/name\n    event_id: '2101'\n    flow_points:\n"
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
  using Row = std::tuple<FindingSeverity, FindingCode, int, int, std::string>;
  std::vector<Row> got;
  for (const auto& f : findings) {
    got.emplace_back(f.severity, f.code, f.line, f.column, f.key);
    EXPECT_FALSE(f.message.empty());
  }
  std::vector<Row> expected;
  for (const auto& e : c.findings) {
    expected.emplace_back(e.severity, e.code, e.line, e.column, e.key);
  }
  EXPECT_EQ(got, expected) << Escaped(c.yaml) << "found:\n" << Describe(findings);

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
  // The expanded name is what ROS 2 refuses; the message says why '{ns}' made it so.
  const std::string ns = message_of(
      "workflows:\n  - {flow_id: a, diag_topic: '/robot/{ns}/x', flow_points: [{point_id: p}]}\n");
  EXPECT_NE(ns.find("expands to '/robot///x'"), std::string::npos) << ns;
  EXPECT_NE(ns.find("'{ns}' stands for the node's namespace"), std::string::npos) << ns;
}

TEST(LintProgram, prints_findings_as_compilers_do_and_as_json) {
  TempFile file(
      "workflows:\n  - flow_id: a\n    flow_points:\n"
      "      - {point_id: p, optinal: true}\n      - {point_id: q, repeat_cnt: -1}\n");
  const LintRun text = RunLint({file.path()});
  EXPECT_EQ(text.exit_status, 1);
  EXPECT_NE(text.output.find(file.path() + ":4:23: warning: unknown key 'optinal'; did you mean "
                                           "'optional'? [unknown-key]\n"),
            std::string::npos)
      << text.output;
  EXPECT_NE(text.output.find(file.path() + ":5:35: error: "), std::string::npos) << text.output;

  const LintRun json = RunLint({file.path(), "--format", "json"});
  EXPECT_EQ(json.exit_status, 1);
  EXPECT_EQ(json.output.front(), '[');
  EXPECT_NE(json.output.find("\"line\": 4, \"column\": 23, \"severity\": \"warning\", \"code\": "
                             "\"unknown-key\", \"key\": \"optinal\""),
            std::string::npos)
      << json.output;
  EXPECT_NE(json.output.find("\"severity\": \"error\", \"code\": \"out-of-range\", \"key\": "
                             "\"repeat_cnt\""),
            std::string::npos)
      << json.output;

  // A Latin-1 key reaches the JSON as U+FFFD, never as a raw byte.
  TempFile latin1("workflows:\n  - {flow_id: a, flow_points: [{point_id: p, caf\xe9: 1}]}\n");
  const LintRun sanitized = RunLint({latin1.path(), "--format", "json"});
  EXPECT_EQ(sanitized.output.find('\xe9'), std::string::npos) << Escaped(sanitized.output);
  EXPECT_NE(sanitized.output.find("caf\\ufffd"), std::string::npos) << sanitized.output;
}

TEST(LintProgram, werror_help_standard_input_and_files_it_cannot_read) {
  TempFile warned("workflows:\n  - {flow_id: a, flow_points: [{point_id: p, optinal: true}]}\n");
  TempFile clean("workflows:\n  - {flow_id: a, flow_points: [{point_id: p}]}\n");
  EXPECT_EQ(RunLint({warned.path()}).exit_status, 0);
  const LintRun strict = RunLint({warned.path(), "--werror"});
  EXPECT_EQ(strict.exit_status, 1);
  EXPECT_NE(strict.output.find(": error: unknown key 'optinal'"), std::string::npos)
      << strict.output;
  EXPECT_EQ(RunLint({clean.path(), "--werror"}).exit_status, 0);

  // Every file is linted even when one cannot be read; JSON says why too.
  const LintRun missing = RunLint({"/nonexistent/flow.yaml", warned.path()});
  EXPECT_EQ(missing.exit_status, 2);
  EXPECT_NE(missing.output.find("optinal"), std::string::npos) << missing.output;
  const LintRun missing_json = RunLint({"/nonexistent/flow.yaml", "--format", "json"});
  EXPECT_EQ(missing_json.exit_status, 2);
  EXPECT_NE(missing_json.output.find("\"file\": \"/nonexistent/flow.yaml\", \"line\": 0, "
                                     "\"column\": 0, \"severity\": \"error\", \"code\": "
                                     "\"missing-file\""),
            std::string::npos)
      << missing_json.output;

  EXPECT_EQ(RunLint({}).exit_status, 2);
  EXPECT_EQ(RunLint({clean.path(), "--format", "xml"}).exit_status, 2);
  EXPECT_EQ(RunLint({clean.path(), "--bogus"}).exit_status, 2);
  for (const std::vector<std::string>& help : {std::vector<std::string>{KESTRUNE_FLOW, "help"},
                                               {KESTRUNE_FLOW, "-h"},
                                               {KESTRUNE_FLOW, "--help"},
                                               {KESTRUNE_FLOW, "lint", "--help"}}) {
    ChildProcess program(help);
    EXPECT_EQ(program.wait_for_exit(std::chrono::seconds(30)), 0) << help.back();
    EXPECT_EQ(program.output().rfind("usage: kestrune_flow lint FILE...", 0), 0u)
        << program.output();
  }

  // "-" reads standard input, for editors and hooks that pipe a buffer in.
  ChildProcess piped(
      {"/bin/sh", "-c", std::string(KESTRUNE_FLOW) + " lint - < '" + warned.path() + "'"});
  EXPECT_EQ(piped.wait_for_exit(std::chrono::seconds(30)), 0);
  EXPECT_NE(piped.output().find("<stdin>:2:46: warning: unknown key 'optinal'"), std::string::npos)
      << piped.output();
}

// The README's examples, on the package's own files.
TEST(LintProgram, passes_the_bundled_flow_files_and_says_what_is_no_flow_file) {
  const std::string package = KESTRUNE_TEST_SOURCE_DIR;
  EXPECT_EQ(RunLint({package + "/config/test_flow.yaml", package + "/examples/minimal_flow.yaml",
                     "--werror"})
                .exit_status,
            0);
  const LintRun analyzers = RunLint({package + "/config/analyzers.yaml"});
  EXPECT_EQ(analyzers.exit_status, 1);
  EXPECT_NE(analyzers.output.find("error: not a flow file: it has no 'workflows' key"),
            std::string::npos)
      << analyzers.output;
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
  EXPECT_EQ(unreadable[0].code, C::kMissingFile);
  EXPECT_EQ(unreadable[0].line, 0);
  EXPECT_NE(unreadable[0].message.find("/nonexistent/flow.yaml"), std::string::npos);
}

// --- One walk over every flow file: show, Init and the schema against the lint -------

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

/// Whether Init, given a node as on a robot, refuses or doubts some of the file:
/// it throws, logs an error or a warning about the file, loads a flow under the
/// empty id, or keeps fewer flows than it parsed (a later flow replaced an
/// earlier one). The heartbeat thread of an earlier file may log warnings too.
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
  bool complained = false;
  for (const auto& line : log.Lines()) {
    if (StartsWith(line, "[ERROR]") || StartsWith(line, "[WARN] Flow configuration file '")) {
      complained = true;
      log_text += line + "\n";
    }
    parsed_flows += StartsWith(line, "[DEBUG] Parsed trace flow config:") ? 1 : 0;
  }
  const auto flows = FlowTrace::GetInstance()->GetTraceFlows();
  return threw || complained || flows.count("") != 0 || (!threw && flows.size() < parsed_flows);
}

/// The schema says nothing about topic names, ids used twice or settings
/// without effect; it does say which keys exist, of what type and range.
bool SchemaExpresses(FindingCode code) {
  switch (code) {
    case C::kEmptyFile:
    case C::kNotAFlowFile:
    case C::kUnknownKey:
    case C::kWrongType:
    case C::kOutOfRange:
    case C::kMissingKey:
    case C::kEmptyValue:
      return true;
    default:
      return false;
  }
}

/// PyYAML, the validator's reader, sees another document than yaml-cpp.
bool ReadsDifferently(FindingCode code) {
  return code == C::kNotYaml || code == C::kNotUtf8 || code == C::kSeveralDocuments ||
         code == C::kDuplicateKey || code == C::kMergeKey;
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

TEST(FlowFileCorpus, show_is_a_fixed_point_and_lint_agrees_with_init_and_the_schema) {
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
  std::string verdicts;
  for (const auto& path : paths) {
    SCOPED_TRACE(path);
    const auto file = kestrune::trace::ReadFlowConfigFile(path);
    ASSERT_FALSE(file.error);

    // Loading show's output gives the configuration loading the file gives.
    const ParsedFlowConfig parsed = kestrune::trace::ParseFlowConfig(file.text);
    const std::string shown = kestrune::flow_tool::ShowFlowConfig(parsed);
    const ParsedFlowConfig reloaded = kestrune::trace::ParseFlowConfig(shown);
    for (const auto& finding : reloaded.findings) {
      // Bytes that are not UTF-8 are carried over as they are.
      EXPECT_TRUE(finding.severity != E || finding.code == C::kNotUtf8)
          << Describe({finding}) << Escaped(shown);
    }
    EXPECT_EQ(kestrune_test::ConfigDifference(parsed, reloaded), "") << Escaped(shown);

    const auto findings = LintFlowConfig(file.text);
    std::string init_log;
    const bool refused = InitRefuses(path, node, init_log);
    EXPECT_EQ(kestrune::trace::HasErrors(findings), refused) << "lint:\n"
                                                             << Describe(findings) << "Init:\n"
                                                             << Escaped(init_log);

    auto has = [&findings](bool (*kind)(FindingCode)) {
      return std::any_of(findings.begin(), findings.end(),
                         [kind](const ConfigFinding& f) { return kind(f.code); });
    };
    if (!has(ReadsDifferently)) {
      verdicts += (has(SchemaExpresses) ? "invalid " : "valid ") + path + "\n";
    }
  }
  // A running heartbeat thread stops after its period.
  TempFile stop("workflows: [{flow_id: heartbeat, duration_ms: 0}]\n");
  FlowTrace::GetInstance()->Init(stop.path(), node);

  // The real validator must give every file the verdict the lint gives.
  TempFile verdict_file(verdicts, ".txt");
  ChildProcess validator(
      {KESTRUNE_PYTHON, KESTRUNE_TEST_SOURCE_DIR "/test/validate_flow_configs.py",
       KESTRUNE_TEST_SOURCE_DIR "/schema/flow_config.schema.json", "--verdicts",
       verdict_file.path()},
      {}, kestrune_test::ChildStderr::kMerged);
  EXPECT_EQ(validator.wait_for_exit(std::chrono::seconds(120)), 0) << validator.output();
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
