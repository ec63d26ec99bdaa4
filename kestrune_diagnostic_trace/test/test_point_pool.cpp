// Points reused across runs: Trace allocates nothing in steady state, and a
// point still held elsewhere is never rewritten. Allocations are counted by a
// replaced global operator new, on the measuring thread only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "support/engine.hpp"
#include "support/temp_file.hpp"

namespace {

thread_local bool counting = false;
thread_local size_t allocations = 0;

void* Allocate(std::size_t size) {
  if (counting) {
    ++allocations;
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) {
    return memory;
  }
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t /*size*/) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t /*size*/) noexcept {
  std::free(memory);
}

namespace {

using kestrune::trace::FlowCheckStatus;
using kestrune::trace::TracePoint;
using kestrune_test::Engine;

/// Allocations made by `work` on this thread.
template <typename Work>
size_t AllocationsOf(Work work) {
  allocations = 0;
  counting = true;
  work();
  counting = false;
  return allocations;
}

// Ids longer than the 15 bytes a string holds without allocating. "quiet"
// sends no event; "loud" reports every point to the publish callback.
const std::vector<std::string> kPoints = {"home_pos_reached",
                                          "gripper_opened_wide",
                                          "object_detected_in_view",
                                          "approach_pose_reached",
                                          "grasp_closed_on_object",
                                          "lift_pose_reached_safely",
                                          "place_pose_reached_over_bin",
                                          "object_released_into_bin"};

std::string Config() {
  std::string quiet = "  - flow_id: a_flow_with_a_long_name_quiet\n    flow_points:\n";
  std::string loud = "  - flow_id: a_flow_with_a_long_name_loud\n    flow_points:\n";
  for (size_t i = 0; i < kPoints.size(); ++i) {
    quiet += "      - {point_id: " + kPoints[i] + "}\n";
    loud += "      - {point_id: " + kPoints[i] + ", event_id: " + std::to_string(i + 1) +
            ", on_success: true}\n";
  }
  // The heartbeat flow, without a thread: the test beats by hand.
  return "workflows:\n" + quiet + loud + "  - flow_id: heartbeat\n";
}

class PointPool : public ::testing::Test {
 protected:
  // Events go to a callback that keeps nothing: what it would allocate is not the engine's.
  void SetUp() override {
    kestrune_test::TempFile file(Config());
    kestrune::trace::PublishCallback ignore =
        [](const std::string&, const kestrune::trace::DiagnosticEvent&) { return true; };
    Engine()->Init(file.path(), ignore);
  }

  /// Allocations per Trace over `runs` runs of the flow, each followed by a
  /// reset, after two runs of warm-up; `trace` records one point.
  template <typename Traces>
  static double PerTrace(const std::string& flow_id, Traces trace, size_t runs = 1000) {
    auto run = [&] {
      for (size_t i = 0; i < kPoints.size(); ++i) {
        trace(i);
      }
      Engine()->ResetFlow(flow_id);
    };
    run();
    run();
    const size_t counted = AllocationsOf([&] {
      for (size_t i = 0; i < runs; ++i) {
        run();
      }
    });
    return static_cast<double>(counted) / static_cast<double>(runs * kPoints.size());
  }
};

TEST_F(PointPool, a_point_that_sends_no_event_allocates_nothing_after_warm_up) {
  const std::string flow_id = "a_flow_with_a_long_name_quiet";
  EXPECT_EQ(PerTrace(flow_id, [&](size_t i) { Engine()->Trace(flow_id, kPoints[i], true); }), 0.0);

  std::vector<kestrune::trace::TracePointHandle> handles;
  for (const auto& point_id : kPoints) {
    handles.push_back(Engine()->Point(flow_id, point_id));
  }
  EXPECT_EQ(PerTrace(flow_id, [&](size_t i) { handles[i].Trace(true); }), 0.0);
}

TEST_F(PointPool, a_point_that_sends_an_event_to_the_callback_allocates_nothing_after_warm_up) {
  const std::string flow_id = "a_flow_with_a_long_name_loud";
  EXPECT_EQ(PerTrace(flow_id, [&](size_t i) { Engine()->Trace(flow_id, kPoints[i], true); }), 0.0);
}

TEST_F(PointPool, points_held_by_a_result_or_their_caller_are_never_rewritten) {
  const std::string flow_id = "a_flow_with_a_long_name_quiet";
  Engine()->ResetFlow(flow_id);
  auto prepared = std::make_shared<TracePoint>(kPoints[0], true);
  Engine()->Trace(flow_id, prepared);
  Engine()->Trace(flow_id, kPoints[0], true);
  const auto result = Engine()->CheckFlow(flow_id);
  ASSERT_EQ(result->status, FlowCheckStatus::DUPLICATED_POINT);
  ASSERT_TRUE(result->failure_point);
  const TracePoint* held = result->failure_point.get();

  // Later runs take every point the pool has, and more.
  for (int run = 0; run < 3; ++run) {
    Engine()->ResetFlow(flow_id);
    for (size_t i = kPoints.size(); i-- > 0;) {
      Engine()->Trace(flow_id, kPoints[i], false);
    }
  }
  EXPECT_EQ(result->failure_point.get(), held);
  EXPECT_EQ(result->failure_point->point_id, kPoints[0]);
  EXPECT_TRUE(result->failure_point->success);
  EXPECT_EQ(result->failure_point->index, 1u);
  EXPECT_EQ(prepared->point_id, kPoints[0]);
  EXPECT_TRUE(prepared->success);
  for (const auto& point : Engine()->GetTracePoints(flow_id)) {
    EXPECT_NE(point.get(), held);
    EXPECT_NE(point, prepared);
  }
}

// The heartbeat's queue is trimmed rather than reset: a point of the caller's
// kept there is renumbered as a copy and never reused.
TEST_F(PointPool, a_prepared_heartbeat_point_outlasts_the_trims_of_its_queue_unchanged) {
  for (int beat = 0; beat < 1000; ++beat) {
    Engine()->Trace("heartbeat", "heartbeat", true);
  }
  // Recorded right after a trim.
  auto prepared = std::make_shared<TracePoint>("heartbeat", false);
  Engine()->Trace("heartbeat", prepared);
  const uint32_t index = prepared->index;
  for (int beat = 0; beat < 2000; ++beat) {
    Engine()->Trace("heartbeat", "heartbeat", true);
  }
  EXPECT_EQ(prepared->index, index);
  EXPECT_FALSE(prepared->success);
}

TEST_F(PointPool, a_reused_point_carries_only_what_its_own_trace_gave_it) {
  const std::string flow_id = "a_flow_with_a_long_name_quiet";
  Engine()->ResetFlow(flow_id);
  Engine()->Trace(flow_id, kPoints[7], false, {{"arm", "left"}});
  Engine()->ResetFlow(flow_id);
  Engine()->Trace(flow_id, "x", true);
  const auto& queue = Engine()->GetTracePoints(flow_id);
  ASSERT_EQ(queue.size(), 1u);
  EXPECT_EQ(queue[0]->point_id, "x");
  EXPECT_TRUE(queue[0]->success);
  EXPECT_EQ(queue[0]->index, 0u);
  EXPECT_TRUE(queue[0]->metadata.empty());
}

}  // namespace
