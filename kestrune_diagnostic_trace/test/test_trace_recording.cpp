#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "support/captured_log.hpp"
#include "support/engine.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::FlowTrace;
using kestrune::trace::TraceFlowCfg;
using kestrune::trace::TracePoint;
using kestrune::trace::TracePointCfg;
using kestrune_test::CapturedLog;
using kestrune_test::Engine;
using kestrune_test::HasLine;
using kestrune_test::TempFile;

// Two ordered flows with nothing to report and a heartbeat flow without a thread.
void LoadFlows() {
  TempFile file(R"(
workflows:
  - flow_id: f
    flow_points: [{point_id: a}, {point_id: b}, {point_id: c}]
  - flow_id: g
    flow_points: [{point_id: a}, {point_id: b}]
  - flow_id: heartbeat
)");
  Engine()->Init(file.path(), std::shared_ptr<rclcpp::Node>());
}

std::vector<uint32_t> Indexes(const std::string& flow_id) {
  std::vector<uint32_t> indexes;
  for (const auto& point : Engine()->GetTracePoints(flow_id)) {
    indexes.push_back(point->index);
  }
  return indexes;
}

std::shared_ptr<TracePoint> PointAt(const std::string& point_id, int64_t timestamp_ms) {
  auto point = std::make_shared<TracePoint>(point_id, true);
  point->timestamp_ms = timestamp_ms;
  return point;
}

TEST(TraceRecording, indexes_count_from_zero_and_restart_after_each_kind_of_reset) {
  LoadFlows();
  Engine()->Trace("f", "a", true);
  Engine()->Trace("f", "b", false);
  Engine()->Trace("f", "c", true);
  Engine()->Trace("g", "a", true);
  EXPECT_EQ(Indexes("f"), (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(Indexes("g"), (std::vector<uint32_t>{0}));
  EXPECT_FALSE(Engine()->GetTracePoints("f")[1]->success);

  Engine()->ResetFlow("f");
  EXPECT_TRUE(Engine()->GetTracePoints("f").empty());
  EXPECT_EQ(Indexes("g"), (std::vector<uint32_t>{0}));
  Engine()->Trace("f", "a", true);
  Engine()->Trace("g", "b", true);
  EXPECT_EQ(Indexes("f"), (std::vector<uint32_t>{0}));
  EXPECT_EQ(Indexes("g"), (std::vector<uint32_t>{0, 1}));

  Engine()->ResetAllFlows();
  Engine()->Trace("g", "a", true);
  EXPECT_EQ(Indexes("f"), (std::vector<uint32_t>{}));
  EXPECT_EQ(Indexes("g"), (std::vector<uint32_t>{0}));
}

TEST(TraceRecording, prepared_point_recorded_twice_is_one_object_at_its_later_position) {
  LoadFlows();
  auto point = std::make_shared<TracePoint>("a", true);
  const int64_t stamp = point->timestamp_ms;
  Engine()->Trace("f", point);
  Engine()->Trace("f", "b", true);
  Engine()->Trace("f", point);
  const auto& queue = Engine()->GetTracePoints("f");
  ASSERT_EQ(queue.size(), 3u);
  EXPECT_EQ(queue[0], point);
  EXPECT_EQ(queue[2], point);
  EXPECT_EQ(point->index, 2u);
  EXPECT_EQ(point->timestamp_ms, stamp);
}

TEST(TraceRecording, points_are_stamped_with_wall_clock_milliseconds) {
  const auto before = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  TracePoint point("a", true);
  const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  EXPECT_GE(point.timestamp_ms, before);
  EXPECT_LE(point.timestamp_ms, after);
  EXPECT_EQ(point.point_id, "a");
  EXPECT_TRUE(point.success);
  EXPECT_TRUE(point.metadata.empty());
}

TEST(TraceRecording, only_the_metadata_overload_attaches_metadata) {
  LoadFlows();
  const std::unordered_map<std::string, std::string> metadata{{"arm", "left"}, {"tool", "gripper"}};
  Engine()->Trace("f", "a", true, metadata);
  Engine()->Trace("f", "b", true);
  Engine()->Trace("f", std::make_shared<TracePoint>("c", true));
  const auto& queue = Engine()->GetTracePoints("f");
  ASSERT_EQ(queue.size(), 3u);
  EXPECT_EQ(queue[0]->metadata, metadata);
  EXPECT_TRUE(queue[1]->metadata.empty());
  EXPECT_TRUE(queue[2]->metadata.empty());
}

TEST(TraceRecording, unknown_flows_and_null_points_record_nothing) {
  LoadFlows();
  CapturedLog log;
  Engine()->Trace("nope", "a", true);
  Engine()->Trace("nope", "a", true, {{"k", "v"}});
  Engine()->Trace("f", std::shared_ptr<TracePoint>());
  const kestrune::trace::FlowQueue& unknown = Engine()->GetTracePoints("nope");
  Engine()->ResetFlow("nope");
  const auto lines = log.Lines();

  EXPECT_TRUE(unknown.empty());
  EXPECT_TRUE(Engine()->GetTracePoints("f").empty());
  EXPECT_EQ(Engine()->GetTraceFlowCfg("f")->check_index, 0u);
  size_t warnings = 0;
  for (const auto& line : lines) {
    warnings += line == "[WARN] flow_id nope not found" ? 1 : 0;
  }
  // Two traces, the queue lookup and the reset.
  EXPECT_EQ(warnings, 4u);
  EXPECT_TRUE(HasLine(lines, "[WARN] flow_id f not found"));
}

// Recording finds a flow's queue and configuration through one table of its
// own, which must follow every way a flow comes and goes.
TEST(TraceRecording, traces_follow_flows_replaced_removed_added_and_reloaded) {
  LoadFlows();
  Engine()->Trace("f", "a", true);
  const auto loaded = Engine()->GetTraceFlowCfg("f");

  auto replacement = std::make_shared<TraceFlowCfg>();
  replacement->flow_id = "f";
  replacement->flow_points.push_back(std::make_shared<TracePointCfg>("x"));
  Engine()->RegisterTraceFlow(replacement);
  Engine()->Trace("f", "x", true);
  EXPECT_EQ(Indexes("f"), (std::vector<uint32_t>{0}));
  EXPECT_EQ(replacement->check_index, 1u);
  EXPECT_EQ(loaded->check_index, 1u);
  Engine()->ResetFlow("f");
  EXPECT_EQ(replacement->check_index, 0u);

  Engine()->RemoveTraceFlow("f");
  {
    CapturedLog log;
    Engine()->Trace("f", "x", true);
    Engine()->ResetFlow("f");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"[WARN] flow_id f not found",
                                                     "[WARN] flow_id f not found"}));
  }

  // Enough new flows to make the tables grow; the flows already there must stay reachable.
  Engine()->RegisterTraceFlow(replacement);
  for (int i = 0; i < 100; ++i) {
    auto added = std::make_shared<TraceFlowCfg>();
    added->flow_id = "added_" + std::to_string(i);
    Engine()->RegisterTraceFlow(added);
  }
  Engine()->Trace("f", "x", true);
  Engine()->Trace("g", "a", true);
  Engine()->Trace("added_99", "a", true);
  EXPECT_EQ(Indexes("f"), (std::vector<uint32_t>{0}));
  EXPECT_EQ(Indexes("g"), (std::vector<uint32_t>{0}));
  EXPECT_EQ(Indexes("added_99"), (std::vector<uint32_t>{0}));
  EXPECT_EQ(replacement->check_index, 1u);

  LoadFlows();
  Engine()->Trace("f", "a", true);
  EXPECT_EQ(Engine()->GetTraceFlowCfg("f")->check_index, 1u);
  EXPECT_EQ(replacement->check_index, 1u);
  CapturedLog log;
  Engine()->Trace("added_99", "a", true);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"[WARN] flow_id added_99 not found"}));
}

TEST(TraceRecording, heartbeat_queue_survives_resets_but_its_check_rewinds) {
  LoadFlows();
  Engine()->Trace("heartbeat", "heartbeat", true);
  Engine()->Trace("heartbeat", "heartbeat", true);
  Engine()->Trace("f", "a", true);
  auto heartbeat = Engine()->GetTraceFlowCfg("heartbeat");
  auto flow = Engine()->GetTraceFlowCfg("f");
  heartbeat->check_index = 1;

  CapturedLog log;
  Engine()->ResetFlow("heartbeat");
  const auto lines = log.Lines();
  EXPECT_EQ(lines, (std::vector<std::string>{"[WARN] Can't reset heartbeat flow"}));
  EXPECT_EQ(Engine()->GetTracePoints("heartbeat").size(), 2u);
  EXPECT_EQ(heartbeat->check_index, 1u);

  Engine()->ResetAllFlows();
  EXPECT_EQ(Indexes("heartbeat"), (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(heartbeat->check_index, 0u);
  EXPECT_TRUE(Engine()->GetTracePoints("f").empty());
  EXPECT_EQ(flow->check_index, 0u);
  Engine()->Trace("heartbeat", "heartbeat", true);
  EXPECT_EQ(Indexes("heartbeat"), (std::vector<uint32_t>{0, 1, 2}));
}

TEST(TraceRecording, duration_spans_first_to_last_recorded_point) {
  LoadFlows();
  Engine()->Trace("f", PointAt("a", 1000));
  Engine()->Trace("f", PointAt("b", 5000));
  Engine()->Trace("f", PointAt("c", 1250));
  CapturedLog log;
  // By recording order, not the largest stamp.
  EXPECT_EQ(Engine()->GetFlowDuration("f"), 250u);
  Engine()->Trace("g", PointAt("a", 7000));
  EXPECT_EQ(Engine()->GetFlowDuration("g"), 0u);
  const auto lines = log.Lines();
  EXPECT_TRUE(HasLine(lines, "[INFO] Flow 'f' duration: 250 ms (start: 1000, end: 1250)"));
  EXPECT_TRUE(HasLine(lines, "[INFO] Flow 'g' duration: 0 ms (start: 7000, end: 7000)"));
}

TEST(TraceRecording, clock_stepped_back_gives_zero_duration) {
  LoadFlows();
  Engine()->Trace("f", PointAt("a", 1000));
  Engine()->Trace("f", PointAt("b", 400));
  CapturedLog log;
  EXPECT_EQ(Engine()->GetFlowDuration("f"), 0u);
  EXPECT_TRUE(HasLine(log.Lines(), "[INFO] Flow 'f' duration: 0 ms (start: 1000, end: 400)"));
}

TEST(TraceRecording, duration_of_empty_unknown_or_unnamed_flow_is_zero) {
  LoadFlows();
  CapturedLog log;
  EXPECT_EQ(Engine()->GetFlowDuration("f"), 0u);
  EXPECT_EQ(Engine()->GetFlowDuration("nope"), 0u);
  EXPECT_EQ(Engine()->GetFlowDuration(""), 0u);
  const auto lines = log.Lines();
  EXPECT_TRUE(HasLine(lines, "[WARN] Flow with ID 'nope' not found"));
  EXPECT_TRUE(HasLine(lines, "[ERROR] Invalid flow_id: cannot be empty"));
}

}  // namespace
