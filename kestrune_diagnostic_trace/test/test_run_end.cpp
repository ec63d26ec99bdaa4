// check_at_end: a run checked and reset by its own last point, or by a stall.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/engine.hpp"

namespace {

using kestrune_test::Engine;

/// Flow "F" on /run_end with check_at_end and the given order and points.
std::string FlowF(bool ordered, const std::string& points, const std::string& extra = "") {
  return std::string(
             "workflows:\n  - flow_id: F\n    diag_topic: /run_end\n    check_at_end: true\n") +
         "    check_order: " + (ordered ? "true" : "false") + "\n" + extra +
         "    flow_points: " + points + "\n";
}

class RunEnd : public kestrune_test::EngineTest {
 protected:
  /// The verdicts sent since the last call: "Succeed flow: F" or the failure texts of checks.
  static std::vector<std::string> Verdicts() {
    std::vector<std::string> verdicts;
    for (const auto& sent : TakeSent()) {
      verdicts.push_back(sent.event.msg);
    }
    return verdicts;
  }
};

TEST_F(RunEnd, the_last_point_checks_and_resets_its_run) {
  struct Case {
    const char* name;
    bool ordered;
    const char* points;
    std::vector<std::string> traced;
    /// Verdicts after the traced points, and the points left in the open run.
    std::vector<std::string> verdicts;
    size_t left;
  };
  const char* const kAbc = "[{point_id: a}, {point_id: b}, {point_id: c}]";
  const std::vector<Case> cases = {
      {"ordered, twice",
       true,
       kAbc,
       {"a", "b", "c", "a", "b", "c", "a"},
       {"Succeed flow: F", "Succeed flow: F"},
       1},
      {"the last point's repeat count must be reached",
       true,
       "[{point_id: a}, {point_id: c, repeat_cnt: 2}]",
       {"a", "c"},
       {},
       2},
      {"repeated last point, reached",
       true,
       "[{point_id: a}, {point_id: c, repeat_cnt: 2}]",
       {"a", "c", "c"},
       {"Succeed flow: F"},
       0},
      {"the first point repeating the last one's id ends nothing",
       true,
       "[{point_id: home}, {point_id: pick}, {point_id: home}]",
       {"home", "pick"},
       {},
       2},
      {"a run that went wrong ends at its last point too",
       true,
       kAbc,
       {"a", "x", "c"},
       {"Status Failed, undefined point: x", "Status Failed, point missing: b",
        "Status Failed, point x error in flow F"},
       0},
      {"unordered: once every point has come",
       false,
       kAbc,
       {"c", "a", "b", "a"},
       {"Succeed flow: F"},
       1},
      {"unordered: points not configured end nothing",
       false,
       kAbc,
       {"c", "a", "x"},
       {"Status Failed, undefined point: x"},
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Load(FlowF(c.ordered, c.points));
    for (const auto& point : c.traced) {
      Engine()->Trace("F", point, true);
    }
    EXPECT_EQ(Verdicts(), c.verdicts);
    EXPECT_EQ(Engine()->GetTracePoints("F").size(), c.left);
  }
}

TEST_F(RunEnd, a_stall_ends_a_run_whose_optional_last_point_never_comes) {
  Load(FlowF(true, "[{point_id: a}, {point_id: b}, {point_id: c, optional: true}]",
             "    stall_ms: 100\n"));
  Engine()->Trace("F", "a", true);
  Engine()->Trace("F", "b", true);
  std::vector<std::string> verdicts;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (verdicts.size() < 2 && std::chrono::steady_clock::now() < deadline) {
    for (auto& verdict : Verdicts()) {
      verdicts.push_back(verdict);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(verdicts, (std::vector<std::string>{"Status Failed, flow stalled: F after b",
                                                "Succeed flow: F"}));
  EXPECT_TRUE(Engine()->GetTracePoints("F").empty());
}

}  // namespace
