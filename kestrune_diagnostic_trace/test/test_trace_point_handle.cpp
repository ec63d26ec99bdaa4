// A handle must give exactly what the string call gives, whatever happened to
// its flow since it was made; and it must be safe while other threads change
// the flows under it (this suite runs under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "support/captured_log.hpp"
#include "support/engine.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::TraceFlowCfg;
using kestrune::trace::TracePointCfg;
using kestrune::trace::TracePointHandle;
using kestrune_test::CapturedLog;
using kestrune_test::Engine;
using kestrune_test::HasLine;
using kestrune_test::TempFile;

// "F" reports b; "other" is there so that loading the second file changes the table.
const char kFlows[] = R"(
workflows:
  - flow_id: F
    diag_topic: /handle_test
    flow_points:
      - {point_id: a}
      - {point_id: b, event_id: 7, on_success: true}
      - {point_id: c}
)";
const char kWithoutF[] = "workflows:\n  - {flow_id: other}\n";

std::shared_ptr<TraceFlowCfg> CodeFlow(const std::vector<std::string>& point_ids) {
  auto flow = std::make_shared<TraceFlowCfg>();
  flow->flow_id = "F";
  for (const auto& id : point_ids) {
    flow->flow_points.push_back(std::make_shared<TracePointCfg>(id));
    flow->flow_points.back()->event_id = 9;
    flow->flow_points.back()->on_success = true;
  }
  return flow;
}

void InitFrom(const char* yaml) {
  TempFile file(yaml);
  kestrune::trace::PublishCallback callback = kestrune_test::EventRecorder::Callback();
  Engine()->Init(file.path(), callback);
}

struct Change {
  const char* name;
  std::function<void()> apply;
  /// Whether b's flow is gone afterwards, so tracing it is refused.
  bool refused;
};

void PrintTo(const Change& change, std::ostream* os) {
  *os << change.name;
}

/// What one trace of b did: its log lines, its events, and the flow's points after it.
using Outcome =
    std::tuple<std::vector<std::string>, std::vector<std::string>, std::vector<std::string>>;

class HandleAfterChange : public kestrune_test::EngineTest,
                          public ::testing::WithParamInterface<Change> {
 protected:
  /// Loads kFlows, traces a then b (b through a handle made at the start, or
  /// by name), applies the change, and traces b once more the same way.
  Outcome Run(bool through_handle) {
    InitFrom(kFlows);
    const TracePointHandle b = Engine()->Point("F", "b");
    auto trace_b = [&] {
      if (through_handle) {
        b.Trace(true);
      } else {
        Engine()->Trace("F", "b", true);
      }
    };
    Engine()->Trace("F", "a", true);
    trace_b();
    GetParam().apply();
    TakeSent();
    CapturedLog log;
    trace_b();
    std::vector<std::string> lines = log.Lines();
    std::vector<std::string> events;
    for (const auto& sent : TakeSent()) {
      events.push_back(std::to_string(sent.event.id) + " " + sent.event.msg);
    }
    std::vector<std::string> points;
    for (const auto& point : Engine()->GetTracePoints("F")) {
      points.push_back(point->point_id + "#" + std::to_string(point->index));
    }
    return {lines, events, points};
  }
};

TEST_P(HandleAfterChange, traces_exactly_as_the_string_call) {
  const Outcome by_name = Run(false);
  const Outcome by_handle = Run(true);
  EXPECT_EQ(by_handle, by_name);
  EXPECT_EQ(HasLine(std::get<0>(by_handle), "[WARN] flow_id F not found"), GetParam().refused);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, HandleAfterChange,
    ::testing::Values(
        Change{"nothing", [] {}, false}, Change{"reset", [] { Engine()->ResetFlow("F"); }, false},
        Change{"reset_all", [] { Engine()->ResetAllFlows(); }, false},
        Change{"removed", [] { Engine()->RemoveTraceFlow("F"); }, true},
        Change{"removed_and_registered_again",
               [] {
                 Engine()->RemoveTraceFlow("F");
                 Engine()->RegisterTraceFlow(CodeFlow({"b"}));
               },
               false},
        Change{"registered_over",
               [] {
                 Engine()->RegisterTraceFlow(CodeFlow({"x", "b"}));
               },
               false},
        Change{"init_without_it", [] { InitFrom(kWithoutF); }, true},
        Change{"init_without_it_then_with_it",
               [] {
                 InitFrom(kWithoutF);
                 InitFrom(kFlows);
               },
               false},
        // Through the shared configuration, which the engine does not see change.
        Change{"point_renamed",
               [] { Engine()->GetTraceFlowCfg("F")->flow_points[1]->point_id = "renamed"; }, false},
        Change{"point_inserted_before",
               [] {
                 auto flow = Engine()->GetTraceFlowCfg("F");
                 flow->flow_points.push_front(std::make_shared<TracePointCfg>("first"));
                 flow->check_index = 2;
               },
               false},
        Change{"ordering_dropped", [] { Engine()->GetTraceFlowCfg("F")->check_order = false; },
               false}),
    [](const ::testing::TestParamInfo<Change>& info) { return std::string(info.param.name); });

TEST(TracePointHandle, a_handle_made_before_its_flow_exists_traces_once_it_is_registered) {
  InitFrom(kWithoutF);
  const TracePointHandle early = Engine()->Point("F", "b");
  {
    CapturedLog log;
    early.Trace(true);
    EXPECT_TRUE(HasLine(log.Lines(), "[WARN] flow_id F not found"));
  }
  Engine()->RegisterTraceFlow(CodeFlow({"b"}));
  const TracePointHandle copy = early;
  early.Trace(true);
  copy.Trace(false);
  const auto& points = Engine()->GetTracePoints("F");
  ASSERT_EQ(points.size(), 2u);
  EXPECT_TRUE(points[0]->success);
  EXPECT_FALSE(points[1]->success);
  EXPECT_EQ(copy.flow_id(), "F");
  EXPECT_EQ(copy.point_id(), "b");
}

// Three threads trace through their own handles and one they share, while a
// fourth resets, removes, re-registers and reloads the flows; under
// ThreadSanitizer any unguarded access fails the run.
TEST(TracePointHandle, handles_are_safe_while_other_threads_change_the_flows) {
  InitFrom(kFlows);
  kestrune_test::EventRecorder::Instance().Take();
  const TracePointHandle shared = Engine()->Point("F", "b");
  std::atomic<bool> stop{false};
  std::atomic<int> tracers_done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      const TracePointHandle own[] = {Engine()->Point("F", "a"), Engine()->Point("F", "b"),
                                      Engine()->Point("F", "c")};
      for (int i = 0; !stop || i < 1000; ++i) {
        own[i % 3].Trace(i % 5 != 0);
        shared.Trace(true);
      }
      ++tracers_done;
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; tracers_done < 3; ++i) {
      switch (i % 5) {
        case 0:
          Engine()->ResetFlow("F");
          break;
        case 1:
          Engine()->RemoveTraceFlow("F");
          break;
        case 2:
          Engine()->RegisterTraceFlow(CodeFlow({"a", "b", "c"}));
          break;
        case 3:
          Engine()->RegisterTraceFlow(CodeFlow({"b"}));
          break;
        default:
          InitFrom(i % 2 == 0 ? kFlows : kWithoutF);
          break;
      }
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  stop = true;
  for (auto& thread : threads) {
    thread.join();
  }
  kestrune_test::EventRecorder::Instance().Take();

  // Whatever happened, the handles find the flow as it is now.
  InitFrom(kFlows);
  shared.Trace(true);
  const TracePointHandle after = Engine()->Point("F", "a");
  after.Trace(true);
  const auto& points = Engine()->GetTracePoints("F");
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[0]->point_id, "b");
  EXPECT_EQ(points[1]->point_id, "a");
}

}  // namespace
