#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <kestrune_diagnostic_trace/build_mode.hpp>

#include "kestrune_test/child_process.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kPackage[] = "kestrune_diagnostic_trace";

/// Generous per-step bound: a step waits for at most one scripted pass, also under sanitizers.
Clock::time_point Deadline(int seconds = 20) {
  return Clock::now() + std::chrono::seconds(seconds);
}

/// An install prefix holding only what the package lookup needs: the ament index
/// marker and the configuration file. Removed with everything in it.
class InstallPrefix {
 public:
  InstallPrefix() {
    std::string pattern = (fs::temp_directory_path() / "kestrune_prefix_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "mkdtemp failed";
    }
    root_ = pattern;
  }
  ~InstallPrefix() { fs::remove_all(root_); }
  InstallPrefix(const InstallPrefix&) = delete;
  InstallPrefix& operator=(const InstallPrefix&) = delete;

  /// Makes the prefix hold the package, with `config` as its test_flow.yaml.
  void AddPackage(const std::string& config) {
    const fs::path index = root_ / "share/ament_index/resource_index/packages";
    fs::create_directories(index);
    std::ofstream(index / kPackage);
    fs::create_directories(ConfigPath().parent_path());
    std::ofstream(ConfigPath()) << config;
  }
  fs::path ConfigPath() const { return root_ / "share" / kPackage / "config/test_flow.yaml"; }
  std::string path() const { return root_.string(); }

 private:
  fs::path root_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// trace_scenario_node as a child process, read line by line, its standard
/// error among its standard output. Every wait is bounded by a deadline.
class ScenarioNode {
 public:
  /// `ament_prefix_path` empty leaves AMENT_PREFIX_PATH unset in the child.
  explicit ScenarioNode(const std::string& ament_prefix_path)
      : child_({KESTRUNE_SCENARIO_NODE},
               {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info",
                ament_prefix_path.empty() ? "AMENT_PREFIX_PATH"
                                          : "AMENT_PREFIX_PATH=" + ament_prefix_path},
               kestrune_test::ChildStderr::kMerged) {}

  ~ScenarioNode() {
    if (::testing::Test::HasFailure()) {
      std::cout << "---- output of trace_scenario_node ----\n" << child_.output() << '\n';
    }
  }
  ScenarioNode(const ScenarioNode&) = delete;
  ScenarioNode& operator=(const ScenarioNode&) = delete;

  /// The next unread line whose text (line number stripped) satisfies `match`;
  /// the lines passed over are returned through `skipped`. Empty at the deadline
  /// or at the end of the output.
  std::optional<std::string> WaitForLine(const std::function<bool(const std::string&)>& match,
                                         Clock::time_point deadline,
                                         std::vector<std::string>* skipped = nullptr) {
    while (true) {
      for (size_t end; (end = child_.output().find('\n', next_)) != std::string::npos;) {
        const std::string text = Text(child_.output().substr(next_, end - next_));
        next_ = end + 1;
        if (match(text)) {
          return text;
        }
        if (skipped != nullptr) {
          skipped->push_back(text);
        }
      }
      if (!child_.read_output(deadline)) {
        return std::nullopt;
      }
    }
  }

  std::optional<std::string> WaitForText(const std::string& text, Clock::time_point deadline) {
    return WaitForLine([&](const std::string& line) { return line == text; }, deadline);
  }

  bool Running() { return child_.running(); }
  void Signal(int signal) { child_.signal(signal); }
  /// The exit code once the child has ended, or empty at the deadline.
  std::optional<int> WaitForExit(Clock::time_point deadline) {
    return child_.wait_for_exit(deadline);
  }

 private:
  /// The text of a log line: "  7 [INFO] text" gives "[INFO] text".
  static std::string Text(const std::string& line) {
    static const std::regex numbered(R"(^[ 0-9]{3} (\[.*)$)");
    std::smatch match;
    return std::regex_match(line, match, numbered) ? match[1].str() : line;
  }

  kestrune_test::ChildProcess child_;
  // Where the first unread line of the output starts.
  size_t next_{0};
};

bool IsHandlerLine(const std::string& text) {
  return text.rfind("[ERROR] FlowEventHandler:", 0) == 0;
}

/// Waits for the next duration line and checks its label; returns the duration.
/// The lines before it are appended to `before`.
uint64_t NextDuration(ScenarioNode& node, const std::string& label,
                      std::vector<std::string>* before) {
  static const std::regex duration(R"(^\[INFO\] --------Flow (.+) duration: (\d+) ms--------$)");
  const auto line = node.WaitForLine(
      [](const std::string& text) { return std::regex_match(text, duration); }, Deadline(), before);
  std::smatch match;
  if (!line || !std::regex_match(*line, match, duration)) {
    ADD_FAILURE() << "no duration line for " << label;
    return 0;
  }
  EXPECT_EQ(match[1].str(), label);
  return std::stoull(match[2].str());
}

std::vector<std::string> HandlerLines(const std::vector<std::string>& lines) {
  std::vector<std::string> found;
  for (const auto& line : lines) {
    if (IsHandlerLine(line)) {
      found.push_back(line.substr(std::string("[ERROR] ").size()));
    }
  }
  return found;
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}

bool ExitedWith(const std::optional<int>& status, int code) {
  return status == code;
}

TEST(TraceScenarioNode, runs_the_six_passes_on_the_bundled_flows_then_spins_until_sigint) {
  InstallPrefix prefix;
  prefix.AddPackage(ReadFile(KESTRUNE_TEST_SOURCE_DIR "/config/test_flow.yaml"));
  ScenarioNode node(prefix.path());

  ASSERT_TRUE(node.WaitForText("[INFO] flow config: " + prefix.ConfigPath().string(), Deadline()));

  // What each pass shows with the bundled flows: the flow handler's lines and the
  // verdict event, which the check logs after calling the handler.
  using Lines = std::vector<std::string>;
  struct Pass {
    std::string label;
    uint64_t min_duration_ms;
    Lines handler;
    std::string verdict;
  };
  const Pass passes[] = {
      {"'grab_place_task'",
       1200,
       {"FlowEventHandler: Flow 'grab_place_task' failed, status: 1",
        "FlowEventHandler: failure point 'place_pos_reached', index: 4",
        "FlowEventHandler:  desired point 'place_pos_reached', event_id '1105'"},
       "[INFO] ROS2 topic pub: 'Status Failed, point place_pos_reached failed in flow "
       "grab_place_task'"},
      {"'grab_place_task'",
       900,
       {"FlowEventHandler: Flow 'grab_place_task' missing point, status: 4",
        "FlowEventHandler:  desired point 'gripper_closed', event_id '1104'"},
       "[INFO] Publish Ros2 diag event, status: 1, id: 1100, msg: Status Failed, point "
       "gripper_closed missing in flow grab_place_task"},
      {"'grab_place_task'",
       1300,
       {"FlowEventHandler: Flow 'grab_place_task' duplicated point, status: 3",
        "FlowEventHandler: failure point 'target_pos_reached', index: 3",
        "FlowEventHandler:  desired point 'gripper_closed', event_id '1104'"},
       "[INFO] Publish Ros2 diag event, status: 1, id: 1100, msg: Status Failed, point "
       "target_pos_reached duplicated in flow grab_place_task"},
      {"grab_place_task",
       1100,
       {"FlowEventHandler: Flow 'grab_place_task' success, status: 0"},
       "[INFO] ROS2 topic pub: 'Succeed flow: grab_place_task'"},
      {"'toilet' 1st",
       1000,
       {"FlowEventHandler: Flow 'toilet' success, status: 0"},
       "[INFO] ROS2 topic pub: 'Succeed flow: toilet'"},
      {"'toilet' 2nd",
       1000,
       {"FlowEventHandler: Flow 'toilet' invalid point, status: 2",
        "FlowEventHandler: failure point 'updatemap', index: 4"},
       "[INFO] ROS2 topic pub: 'Status Failed, point updatemap invalid in flow toilet'"},
  };

  // segments[k] holds the lines between duration lines k-1 and k, and segments[6]
  // those after the last one up to the last verdict.
  std::vector<Lines> segments(7);
  for (size_t k = 0; k < 6; ++k) {
    EXPECT_GE(NextDuration(node, passes[k].label, &segments[k]), passes[k].min_duration_ms)
        << "pass " << k + 1;
  }
  ASSERT_TRUE(node.WaitForLine([&](const std::string& text) { return text == passes[5].verdict; },
                               Deadline(), &segments[6]));

  // Passes 1 to 3 check before their duration line, passes 4 to 6 after it.
  for (size_t k = 0; k < 6; ++k) {
    SCOPED_TRACE("pass " + std::to_string(k + 1));
    const Lines& segment = segments[k < 3 ? k : k + 1];
    EXPECT_EQ(HandlerLines(segment), passes[k].handler);
    if (k < 5) {  // the last verdict ended segments[6]
      EXPECT_TRUE(Contains(segment, passes[k].verdict));
    }
  }
  EXPECT_EQ(HandlerLines(segments[3]), Lines{});
  EXPECT_FALSE(Contains(segments[3], "[INFO] Check flow: grab_place_task"));
  EXPECT_TRUE(Contains(segments[4], "[INFO] Check flow: grab_place_task"));

  // Spinning: the heartbeat goes on, each beat publishing its event.
  ASSERT_TRUE(node.WaitForText("[INFO] ROS2 topic pub: 'Status OK: heartbeat'", Deadline(5)));
  ASSERT_TRUE(node.WaitForText("[INFO] heartbeat...", Deadline(5)));
  EXPECT_TRUE(node.Running());

  node.Signal(SIGINT);
  EXPECT_TRUE(ExitedWith(node.WaitForExit(Deadline(10)), 0));
}

TEST(TraceScenarioNode, without_the_toilet_flow_logs_zero_durations_and_stops_on_sigterm) {
  InstallPrefix prefix;
  prefix.AddPackage(R"(
workflows:
  - flow_id: grab_place_task
    flow_points: [{point_id: home_pos_reached}]
  - flow_id: heartbeat
    duration_ms: 200
)");
  ScenarioNode node(prefix.path());

  const auto deadline = Deadline(60);
  ASSERT_TRUE(
      node.WaitForText("[INFO] --------Flow 'toilet' 1st duration: 0 ms--------", deadline));
  ASSERT_TRUE(
      node.WaitForText("[INFO] --------Flow 'toilet' 2nd duration: 0 ms--------", deadline));
  ASSERT_TRUE(node.WaitForText("[INFO] heartbeat...", Deadline(5)));
  EXPECT_TRUE(node.Running());

  node.Signal(SIGTERM);
  EXPECT_TRUE(ExitedWith(node.WaitForExit(Deadline(10)), 0));
}

TEST(TraceScenarioNode, a_signal_during_the_passes_ends_it_with_status_0_after_the_script) {
  InstallPrefix prefix;
  prefix.AddPackage(R"(
workflows:
  - flow_id: grab_place_task
    diag_topic: scenario_signal_test
    flow_points: [{point_id: home_pos_reached, event_id: 1, on_success: true}]
)");
  ScenarioNode node(prefix.path());
  ASSERT_TRUE(node.WaitForLine(
      [](const std::string& text) {
        return text.rfind("[INFO] --------Flow 'grab_place_task' duration: ", 0) == 0;
      },
      Deadline()));
  // ROS 2 is shut down while the script still publishes and before spin() starts.
  node.Signal(SIGINT);
  EXPECT_TRUE(ExitedWith(node.WaitForExit(Deadline(30)), 0));
}

TEST(TraceScenarioNode, its_events_reach_the_echo_tool_on_the_configured_topics) {
#ifndef KESTRUNE_STANDALONE
  GTEST_SKIP() << "diag_echo belongs to the standalone build; with ROS 2 use ros2 topic echo";
#else
  InstallPrefix prefix;
  prefix.AddPackage(ReadFile(KESTRUNE_TEST_SOURCE_DIR "/config/test_flow.yaml"));
  const std::string echo = KESTRUNE_TEST_BINARY_DIR "/diag_echo";
  // Listening before the program starts: its events are not kept for late subscribers.
  kestrune_test::ChildProcess heartbeat({echo, "/kestrune/diag/heartbeat", "--count", "2"});
  kestrune_test::ChildProcess toilet({echo, "/kestrune/diag/toilet", "--count", "1"});
  ScenarioNode node(prefix.path());

  ASSERT_EQ(heartbeat.wait_for_exit(std::chrono::seconds(20)), 0) << heartbeat.output();
  EXPECT_NE(heartbeat.output().find("source_id: 'heartbeat'\nid: 1001\nstatus: 0\n"
                                    "msg: 'Status OK: heartbeat'\nkind: 0\nverdict: 0\n"
                                    "point_id: 'heartbeat'\nduration_ms: 0\n---\n"),
            std::string::npos)
      << heartbeat.output();
  ASSERT_EQ(toilet.wait_for_exit(std::chrono::seconds(30)), 0) << toilet.output();
  EXPECT_NE(toilet.output().find("source_id: 'toilet'\n"), std::string::npos) << toilet.output();

  node.Signal(SIGINT);
  EXPECT_TRUE(ExitedWith(node.WaitForExit(Deadline(30)), 0));
#endif
}

TEST(TraceScenarioNode, without_the_package_share_directory_fails_with_a_clear_error) {
  InstallPrefix empty_prefix;
  for (const std::string& ament_prefix_path : {empty_prefix.path(), std::string()}) {
    SCOPED_TRACE("AMENT_PREFIX_PATH=" + ament_prefix_path);
    ScenarioNode node(ament_prefix_path);
    const std::string error =
        "[ERROR] Share directory of package 'kestrune_diagnostic_trace' not found";
    EXPECT_TRUE(node.WaitForLine([&](const std::string& text) { return text.rfind(error, 0) == 0; },
                                 Deadline()));
    EXPECT_TRUE(ExitedWith(node.WaitForExit(Deadline()), 1));
  }
}

/// Waits for the next `count` duration lines; false at the deadline or the end of the output.
bool WaitForDurations(ScenarioNode& node, int count, Clock::time_point deadline) {
  static const std::regex duration(R"(^\[INFO\] --------Flow .+ duration: \d+ ms--------$)");
  for (int k = 0; k < count; ++k) {
    if (!node.WaitForLine([](const std::string& text) { return std::regex_match(text, duration); },
                          deadline)) {
      return false;
    }
  }
  return true;
}

/// Runs the program and sends `signal` once pass `pass` (1 to 6) has begun: the
/// script still completes its passes, publishing nothing after shutdown, and the
/// program exits with status 0 instead of spinning.
void InterruptPass(const InstallPrefix& prefix, int signal, int pass) {
  SCOPED_TRACE(std::string(signal == SIGINT ? "SIGINT" : "SIGTERM") + " in pass " +
               std::to_string(pass));
  ScenarioNode node(prefix.path());
  const auto deadline = Deadline(90);
  // Pass 1 follows Init, which ends by starting the heartbeat; pass k follows the
  // duration line of pass k - 1.
  const bool begun =
      pass == 1 ? node.WaitForText("[INFO] start heartbeat thread...", deadline).has_value()
                : WaitForDurations(node, pass - 1, deadline);
  ASSERT_TRUE(begun);
  node.Signal(signal);
  EXPECT_TRUE(WaitForDurations(node, 7 - pass, deadline));
  EXPECT_TRUE(ExitedWith(node.WaitForExit(deadline), 0));
}

TEST(TraceScenarioNode, sigint_or_sigterm_during_any_pass_ends_the_program_with_status_zero) {
  InstallPrefix prefix;
  prefix.AddPackage(ReadFile(KESTRUNE_TEST_SOURCE_DIR "/config/test_flow.yaml"));
  // Twelve runs side by side: the script mostly sleeps, so this takes about one run's time.
  std::vector<std::thread> runs;
  for (int signal : {SIGINT, SIGTERM}) {
    for (int pass = 1; pass <= 6; ++pass) {
      runs.emplace_back([&prefix, signal, pass] { InterruptPass(prefix, signal, pass); });
    }
  }
  for (auto& run : runs) {
    run.join();
  }
}

}  // namespace
