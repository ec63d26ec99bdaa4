// flow_checker's judgement of arriving messages, driven in this process with
// its clocks given by the test: ordering, lateness, senders, losses, requests.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "point_checker.hpp"
#include "support/engine.hpp"

namespace {

using kestrune::checker::CheckerCounts;
using kestrune::checker::PointChecker;
using kestrune::checker::SteadyTime;
using kestrune::checker::WriterId;
using kestrune::trace::FlowPoint;
using kestrune_test::Engine;

constexpr char kFlows[] = R"(
workflows:
  - flow_id: f
    diag_topic: /point_checker_test
    flow_points: [{point_id: a}, {point_id: b}, {point_id: c}]
)";
const SteadyTime kStart{};
constexpr int64_t kEpochMs = 1765000000000;

/// One step: a message arriving at `at_ms` (steady clock from kStart, system
/// clock from kEpochMs), or with `release` the window releasing at `at_ms`.
struct Step {
  int64_t at_ms;
  bool release{false};
  uint8_t writer{0};
  uint64_t sequence{0};
  std::string flow{"f"};
  std::string point;
  /// Milliseconds after kEpochMs; -1: unstamped.
  int64_t stamp_ms{0};
  uint8_t kind{FlowPoint::POINT};
};

Step Arrive(int64_t at_ms, uint8_t writer, uint64_t sequence, const std::string& point,
            int64_t stamp_ms, const std::string& flow = "f") {
  return Step{at_ms, false, writer, sequence, flow, point, stamp_ms, FlowPoint::POINT};
}
Step Release(int64_t at_ms) {
  return Step{at_ms, true, 0, 0, "f", "", 0, FlowPoint::POINT};
}
Step Request(int64_t at_ms, uint8_t kind, int64_t stamp_ms) {
  return Step{at_ms, false, 9, 0, "f", "", stamp_ms, kind};
}

struct Case {
  const char* name;
  int64_t window_ms;
  std::vector<Step> steps;
  /// The run in the engine at the end: "point@stamp" in recorded order.
  std::vector<std::string> recorded;
  uint64_t late;
  uint64_t lost;
  uint64_t unknown;
  size_t senders;
  /// The passing verdicts published, oldest first.
  std::vector<std::string> verdicts;
};

class PointCheckerTest : public kestrune_test::EngineTest {};

TEST_F(PointCheckerTest, messages_are_ordered_counted_and_recorded_as_their_steps_say) {
  const std::vector<Case> cases = {
      {"arrivals within the window leave in stamp order",
       100,
       {Arrive(0, 1, 1, "a", 10), Arrive(10, 2, 1, "c", 30), Arrive(50, 1, 2, "b", 20), Release(99),
        Release(100), Release(110)},
       {"a@10", "b@20", "c@30"},
       0,
       0,
       0,
       2,
       {}},
      {"a point arriving after a later one left is late, recorded at that one's stamp",
       100,
       {Arrive(0, 1, 1, "b", 20), Release(100), Arrive(150, 1, 2, "a", 10), Release(250),
        Arrive(260, 1, 3, "c", 30), Release(360)},
       {"b@20", "a@20", "c@30"},
       1,
       0,
       0,
       1,
       {}},
      {"equal stamps leave by sender, then by sequence",
       0,
       {Arrive(0, 2, 7, "a", 10), Arrive(0, 1, 2, "c", 10), Arrive(0, 1, 1, "b", 10), Release(0)},
       {"a@10", "b@10", "c@10"},
       0,
       0,
       0,
       2,
       {}},
      {"numbers skipped by one writer are lost; a new writer, duplicates and 0 are no gap",
       0,
       {Arrive(0, 1, 1, "a", 1), Arrive(0, 1, 4, "b", 2), Arrive(0, 3, 1, "c", 3),
        Arrive(0, 1, 4, "c", 4), Arrive(0, 1, 0, "c", 5), Arrive(0, 1, 6, "c", 6), Release(0)},
       {"a@1", "b@2", "c@3", "c@4", "c@5", "c@6"},
       0,
       3,
       0,
       2,
       {}},
      {"an unstamped message is stamped on arrival; unknown flows are counted, not recorded",
       0,
       {Arrive(5, 1, 1, "a", -1), Arrive(6, 1, 2, "a", 9, "nope"), Release(6)},
       {"a@5"},
       0,
       0,
       1,
       1,
       {}},
      {"a check request checks the run before it and starts a new one; a reset drops it",
       100,
       {Arrive(0, 1, 1, "a", 1), Arrive(0, 1, 2, "b", 2), Arrive(0, 1, 3, "c", 3),
        Arrive(0, 1, 4, "a", 5), Request(0, FlowPoint::CHECK, 4), Arrive(0, 1, 5, "a", 7),
        Request(0, FlowPoint::RESET, 6), Release(100), Arrive(0, 1, 6, "b", 8), Release(200)},
       {"a@7", "b@8"},
       0,
       0,
       0,
       2,
       {"Succeed flow: f"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Load(kFlows);
    PointChecker checker(*Engine(), {"f"}, std::chrono::milliseconds(c.window_ms));
    for (const Step& step : c.steps) {
      const SteadyTime now = kStart + std::chrono::milliseconds(step.at_ms);
      if (step.release) {
        checker.ReleaseDue(now);
        continue;
      }
      FlowPoint message;
      message.flow_id = step.flow;
      message.point_id = step.point;
      message.success = true;
      message.sequence = step.sequence;
      message.kind = step.kind;
      if (step.stamp_ms >= 0) {
        const int64_t ms = kEpochMs + step.stamp_ms;
        message.stamp.sec = static_cast<int32_t>(ms / 1000);
        message.stamp.nanosec = static_cast<uint32_t>(ms % 1000 * 1000000);
      }
      WriterId writer{};
      writer[0] = step.writer;
      checker.Arrive(message, writer, (kEpochMs + step.at_ms) * 1000000, now);
    }
    std::vector<std::string> recorded;
    for (const auto& point : Engine()->GetTracePoints("f")) {
      recorded.push_back(point->point_id + "@" + std::to_string(point->timestamp_ms - kEpochMs));
    }
    EXPECT_EQ(recorded, c.recorded);
    const CheckerCounts counts = checker.Counts();
    EXPECT_EQ(
        counts.received, c.steps.size() - [&] {
          size_t releases = 0;
          for (const Step& step : c.steps) {
            releases += step.release ? 1 : 0;
          }
          return releases;
        }());
    EXPECT_EQ(counts.late, c.late);
    EXPECT_EQ(counts.lost, c.lost);
    EXPECT_EQ(counts.unknown, c.unknown);
    EXPECT_EQ(counts.senders, c.senders);
    std::vector<std::string> verdicts;
    for (const auto& sent : TakeSent()) {
      if (sent.event.msg.rfind("Succeed flow: ", 0) == 0) {
        verdicts.push_back(sent.event.msg);
      }
    }
    EXPECT_EQ(verdicts, c.verdicts);
  }
}

TEST_F(PointCheckerTest, the_largest_delay_is_from_stamp_to_arrival_and_may_be_negative) {
  Load(kFlows);
  PointChecker checker(*Engine(), {"f"}, std::chrono::milliseconds(0));
  EXPECT_FALSE(checker.Counts().largest_delay_ns);
  WriterId writer{};
  FlowPoint message;
  message.flow_id = "f";
  message.stamp.sec = 100;
  // A sender whose clock runs 2 s ahead.
  checker.Arrive(message, writer, 98000000000, kStart);
  EXPECT_EQ(checker.Counts().largest_delay_ns, -2000000000);
  checker.Arrive(message, writer, 100000000007, kStart);
  EXPECT_EQ(checker.Counts().largest_delay_ns, 7);
}

}  // namespace
