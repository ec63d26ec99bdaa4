#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <kestrune_diagnostic_trace/flow_trace_api.hpp>
#include <rclcpp/rclcpp.hpp>

#include "support/captured_log.hpp"
#include "support/temp_file.hpp"

namespace {

namespace api = kestrune::trace;
using kestrune::trace::DiagnosticEvent;
using kestrune::trace::FlowCheckStatus;
using kestrune::trace::FlowTrace;
using kestrune::trace::PublishCallback;
using kestrune_test::CapturedLog;
using kestrune_test::HasLine;
using kestrune_test::TempFile;

const char kFlows[] = R"(
workflows:
  - flow_id: pick
    diag_topic: diag/pick
    flow_points:
      - {point_id: a, event_id: 11, on_success: true}
  - flow_id: place
    diag_topic: diag/place
    flow_points:
      - {point_id: b}
)";

// Must stay the first test of this file: gtest runs them in declaration order,
// and every later test initialises the engine.
TEST(FlowTraceApi, before_any_init_every_flow_is_unknown) {
  CapturedLog log;
  api::Trace("pick", "a", true);
  EXPECT_EQ(api::GetFlowDuration("pick"), 0u);
  EXPECT_TRUE(api::GetTracePoints("pick").empty());
  api::ResetFlow("pick");
  api::ResetFlow("heartbeat");
  api::ResetAllFlows();
  const auto result = api::CheckFlow("pick");
  const auto lines = log.Lines();

  EXPECT_TRUE(FlowTrace::GetInstance()->GetTraceFlows().empty());
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, FlowCheckStatus::INVALID_FLOW);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[WARN] flow_id pick not found"), 3);
  EXPECT_TRUE(HasLine(lines, "[WARN] Flow with ID 'pick' not found"));
  EXPECT_TRUE(HasLine(lines, "[WARN] Can't reset heartbeat flow"));
}

TEST(FlowTraceApi, free_init_gives_no_flow_a_publisher_and_drops_the_node) {
  TempFile file(kFlows);
  const char* argv[] = {"test_flow_trace_api"};
  rclcpp::init(1, argv);
  auto node = std::make_shared<rclcpp::Node>("flow_trace_api_test");
  FlowTrace* engine = FlowTrace::GetInstance();
  engine->Init(file.path(), node);
  ASSERT_TRUE(engine->GetTraceFlowCfg("pick")->publisher);

  api::Init(file.path());
  const auto flows = engine->GetTraceFlows();
  EXPECT_EQ(flows.size(), 2u);
  for (const auto& flow_id : flows) {
    EXPECT_FALSE(engine->GetTraceFlowCfg(flow_id)->publisher) << flow_id;
  }
  EXPECT_EQ(node.use_count(), 1);
  node.reset();
  rclcpp::shutdown();
}

TEST(FlowTraceApi, free_init_sends_events_only_to_an_earlier_publish_callback) {
  TempFile file(kFlows);
  std::vector<std::pair<std::string, DiagnosticEvent>> sent;
  PublishCallback callback = [&sent](const std::string& topic, const DiagnosticEvent& event) {
    sent.emplace_back(topic, event);
    return true;
  };
  FlowTrace::GetInstance()->Init(file.path(), callback);

  api::Init(file.path());
  api::Trace("pick", "a", true);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].first, "diag/pick");
  EXPECT_EQ(sent[0].second.id, 11);
  EXPECT_EQ(sent[0].second.status, 0);

  // The engine outlives this test; it must not keep a callback into its locals.
  PublishCallback none;
  FlowTrace::GetInstance()->Init(file.path(), none);
}

}  // namespace
