// The one reader of flow files: every way a file can fail to be one, through
// each program that reads it, the engine's Init, kestrune_flow lint and show,
// flow_monitor and flow_checker, which must all say the same about it and name the file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <rclcpp/rclcpp.hpp>

#include "kestrune_test/child_process.hpp"
#include "support/captured_log.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::FindingCode;
using kestrune_test::ChildProcess;
using kestrune_test::ChildStderr;
using kestrune_test::TempFile;
using std::chrono::seconds;

const std::string kFlow = "workflows:\n  - {flow_id: pick, flow_points: [{point_id: p}]}\n";

struct Row {
  const char* name;
  std::string path;
  FindingCode code;
  /// Init loads the flow anyway (and warns); else it loads nothing.
  bool init_loads;
  int lint_status;
  int show_status;
  /// flow_monitor serves the flow and flow_checker judges it (both reporting the
  /// finding); else they exit with 2 and 1.
  bool programs_take_it;
};

struct Outcome {
  int status;
  std::string output;
};

Outcome RunProgram(std::vector<std::string> args) {
  ChildProcess program(args, {}, ChildStderr::kMerged);
  const auto status = program.wait_for_exit(seconds(60));
  return {status.value_or(-1), program.output()};
}

/// A program's exit status, or 0 once its output says it `started`. Stopping
/// it is its own suite's to judge: here it is killed once it started.
Outcome RunUntilStarted(std::vector<std::string> args, const std::regex& started) {
  ChildProcess program(args, {}, ChildStderr::kMerged);
  const auto deadline = std::chrono::steady_clock::now() + seconds(20);
  while (!std::regex_search(program.output(), started) && program.read_output(deadline)) {
  }
  if (std::regex_search(program.output(), started)) {
    return {0, program.output()};
  }
  const auto status = program.wait_for_exit(seconds(20));
  return {status.value_or(-1), program.output()};
}

/// flow_monitor's exit status, or 0 once it served `flows` flows of the file.
Outcome RunMonitor(const std::string& path, int flows = 1) {
  return RunUntilStarted(
      {KESTRUNE_FLOW_MONITOR, "--config", path, "--port", "0"},
      std::regex("serving http://[^ ]+ \\(" + std::to_string(flows) + " configured flows\\)"));
}

TEST(FlowConfigFile, every_program_reports_a_file_it_cannot_take_the_same_way) {
  char directory_template[] = "/tmp/kestrune_test_dirXXXXXX";
  const std::string directory = mkdtemp(directory_template);
  TempFile empty("");
  // Large, but quick to parse: one flow and a long comment.
  TempFile too_large(kFlow + "# " + std::string(kestrune::trace::kMaxFlowConfigBytes, 'x') + "\n");
  TempFile not_utf8("workflows:\n  - {flow_id: pick, flow_points: [{point_id: caf\xe9}]}\n");
  TempFile not_yaml("workflows: [\n");
  TempFile several(kFlow + "---\nworkflows: []\n");
  const std::vector<Row> rows{
      {"missing", "/nonexistent/flows.yaml", FindingCode::kMissingFile, false, 2, 2, false},
      {"directory", directory, FindingCode::kDirectory, false, 2, 2, false},
      // Opens, but reading from offset 0 fails, even for root.
      {"unreadable", "/proc/self/mem", FindingCode::kUnreadableFile, false, 2, 2, false},
      {"empty", empty.path(), FindingCode::kEmptyFile, false, 1, 1, false},
      {"too_large", too_large.path(), FindingCode::kTooLarge, true, 2, 2, false},
      {"not_utf8", not_utf8.path(), FindingCode::kNotUtf8, true, 1, 1, true},
      {"not_yaml", not_yaml.path(), FindingCode::kNotYaml, false, 1, 1, false},
      {"several_documents", several.path(), FindingCode::kSeveralDocuments, true, 1, 1, true},
  };
  auto* engine = kestrune::trace::FlowTrace::GetInstance();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string code = kestrune::trace::FindingCodeName(row.code);

    kestrune_test::CapturedLog log;
    const auto findings = engine->InitChecked(row.path, std::shared_ptr<rclcpp::Node>());
    const auto lines = log.Lines();
    ASSERT_FALSE(findings.empty());
    EXPECT_EQ(findings.front().code, row.code) << findings.front().message;
    EXPECT_EQ(engine->GetTraceFlows().size(), row.init_loads ? 1u : 0u);
    if (row.init_loads || row.lint_status == 2) {
      // A file Init cannot read, and what it loads anyway, is logged with its
      // name; its other lines are the ones it has always written.
      bool named = false;
      for (const auto& line : lines) {
        named = named || line.find(row.path) != std::string::npos;
      }
      EXPECT_TRUE(named) << ::testing::PrintToString(lines);
    }

    const Outcome lint = RunProgram({KESTRUNE_FLOW, "lint", row.path});
    EXPECT_EQ(lint.status, row.lint_status) << lint.output;
    EXPECT_NE(lint.output.find(row.path), std::string::npos) << lint.output;
    EXPECT_NE(lint.output.find("[" + code + "]"), std::string::npos) << lint.output;

    const Outcome show = RunProgram({KESTRUNE_FLOW, "show", row.path});
    EXPECT_EQ(show.status, row.show_status) << show.output;
    EXPECT_NE(show.output.find(row.path), std::string::npos) << show.output;
    EXPECT_NE(show.output.find("[" + code + "]"), std::string::npos) << show.output;

    const Outcome monitor = RunMonitor(row.path);
    EXPECT_EQ(monitor.status, row.programs_take_it ? 0 : 2) << monitor.output;
    EXPECT_NE(monitor.output.find(row.path), std::string::npos) << monitor.output;
    EXPECT_NE(monitor.output.find("[" + code + "]"), std::string::npos) << monitor.output;

    const Outcome checker = RunUntilStarted({KESTRUNE_FLOW_CHECKER, "--config", row.path},
                                            std::regex("judging 1 flows"));
    EXPECT_EQ(checker.status, row.programs_take_it ? 0 : 1) << checker.output;
    EXPECT_NE(checker.output.find(row.path), std::string::npos) << checker.output;
    EXPECT_NE(checker.output.find("[" + code + "]"), std::string::npos) << checker.output;
  }
  std::filesystem::remove(directory);
}

TEST(FlowConfigFile, flow_monitor_reports_what_the_robot_cannot_load_and_serves_the_rest) {
  TempFile file(
      "workflows:\n"
      "  - {flow_id: kept, flow_points: [{point_id: p}]}\n"
      "  - {flow_id: bad_topic, diag_topic: 'bad topic!', flow_points: [{point_id: p}]}\n"
      "  - {flow_id: twice, flow_points: [{point_id: first}]}\n"
      "  - {flow_id: twice, flow_points: [{point_id: second}]}\n"
      "  - {flow_id: dropped, check_order: maybe}\n");
  const Outcome monitor = RunMonitor(file.path(), 2);
  EXPECT_EQ(monitor.status, 0) << monitor.output;
  for (const std::string& reported :
       {file.path() + ":6:37: error: check_order should be a boolean",
        file.path() + ": warning: flow id 'twice' is used by 2 flows",
        file.path() + ": error: flow 'bad_topic': diag_topic 'bad topic!' is not a valid ROS 2 "
                      "topic name"}) {
    EXPECT_NE(monitor.output.find(reported), std::string::npos) << monitor.output;
  }
}

}  // namespace

int main(int argc, char** argv) {
  rclcpp::init(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  rclcpp::shutdown();
  return result;
}
