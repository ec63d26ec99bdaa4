#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "support/captured_log.hpp"
#include "support/flows.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::FlowCheckResult;
using kestrune::trace::FlowHandler;
using kestrune::trace::FlowTrace;
using kestrune::trace::TraceFlowCfg;
using kestrune::trace::TracePointCfg;
using kestrune_test::CapturedLog;
using kestrune_test::HasLine;
using kestrune_test::PointIds;
using kestrune_test::TempFile;

void InitFrom(const std::string& yaml) {
  TempFile file(yaml);
  FlowTrace::GetInstance()->Init(file.path(), std::shared_ptr<rclcpp::Node>());
}

/// Starts each case from an engine without flows; handlers survive by design.
void ClearFlows() {
  InitFrom("workflows: []\n");
}

bool HasLineStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const auto& line : lines) {
    if (line.size() > prefix.size() && line.compare(0, prefix.size(), prefix) == 0) {
      return true;
    }
  }
  return false;
}

FlowHandler NoopHandler() {
  return [](const std::string&, const std::shared_ptr<FlowCheckResult>&) {};
}

const char kTwoFlows[] = R"(
workflows:
  - {flow_id: a, flow_points: [{point_id: p}]}
  - {flow_id: b}
)";

// --- Init: files that cannot be used -------------------------------------------------

TEST(FlowTraceInit, unloadable_files_log_the_yaml_error_and_leave_no_flows) {
  const TempFile not_yaml("workflows: [unclosed\n  - {flow_id: a\n");
  const TempFile scalar_document("just some text\n");
  const std::string missing = not_yaml.path() + ".missing";
  for (const std::string& path : {missing, not_yaml.path(), scalar_document.path()}) {
    InitFrom(kTwoFlows);
    CapturedLog log;
    FlowTrace::GetInstance()->Init(path, std::shared_ptr<rclcpp::Node>());
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u) << path;
    EXPECT_TRUE(HasLineStartingWith(lines, "[ERROR] Failed to parse flow configuration file: "))
        << lines[0];
    EXPECT_TRUE(FlowTrace::GetInstance()->GetTraceFlows().empty()) << path;
  }
}

TEST(FlowTraceInit, missing_file_error_names_the_file) {
  const std::string path = "/nonexistent/kestrune/flows.yaml";
  CapturedLog log;
  FlowTrace::GetInstance()->Init(path, std::shared_ptr<rclcpp::Node>());
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(path), std::string::npos) << lines[0];
}

TEST(FlowTraceInit, unusable_workflows_key_is_reported_and_leaves_no_flows) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "[ERROR] No workflows configuration found"},
      {"flows: []\n", "[ERROR] No workflows configuration found"},
      {"workflows:\n", "[ERROR] No workflows configuration found"},
      {"workflows: ~\n", "[ERROR] No workflows configuration found"},
      {"- {flow_id: a}\n", "[ERROR] No workflows configuration found"},
      {"workflows: a\n", "[ERROR] workflows should be a sequence"},
      {"workflows: {flow_id: a}\n", "[ERROR] workflows should be a sequence"},
  };
  for (const auto& [yaml, expected] : cases) {
    InitFrom(kTwoFlows);
    CapturedLog log;
    InitFrom(yaml);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{expected}) << yaml;
    EXPECT_TRUE(FlowTrace::GetInstance()->GetTraceFlows().empty()) << yaml;
  }
}

// --- Init: loading --------------------------------------------------------------------

TEST(FlowTraceInit, reinit_drops_flows_and_points_but_keeps_handlers) {
  auto* engine = FlowTrace::GetInstance();
  InitFrom(kTwoFlows);
  engine->Trace("a", "p", true);
  ASSERT_EQ(engine->GetTracePoints("a").size(), 1u);
  engine->RegisterFlowHandler("reinit_handler", NoopHandler());
  auto first_a = engine->GetTraceFlowCfg("a");

  InitFrom(R"(
workflows:
  - {flow_id: a}
  - {flow_id: c}
)");
  EXPECT_EQ(engine->GetTraceFlows(), (std::set<std::string>{"a", "c"}));
  EXPECT_TRUE(engine->GetTracePoints("a").empty());
  EXPECT_NE(engine->GetTraceFlowCfg("a"), first_a);
  EXPECT_FALSE(engine->GetTraceFlowCfg("b"));

  CapturedLog log;
  engine->RegisterFlowHandler("reinit_handler", NoopHandler());
  EXPECT_TRUE(HasLine(log.Lines(),
                      "[WARN] Handler for flow_id 'reinit_handler' already exists, overwriting"));
}

TEST(FlowTraceInit, missing_flow_id_is_stored_under_the_empty_key_and_later_ids_replace) {
  auto* engine = FlowTrace::GetInstance();
  CapturedLog log;
  InitFrom(R"(
workflows:
  - {flow_name: anonymous}
  - {flow_id: dup, flow_name: first}
  - {flow_id: dup, flow_name: second}
)");
  const auto lines = log.Lines();
  EXPECT_EQ(engine->GetTraceFlows(), (std::set<std::string>{"", "dup"}));
  ASSERT_TRUE(engine->GetTraceFlowCfg(""));
  EXPECT_EQ(engine->GetTraceFlowCfg("")->flow_name, "anonymous");
  EXPECT_EQ(engine->GetTraceFlowCfg("dup")->flow_name, "second");
  // A replaced flow is not a registration conflict; a file without heartbeat logs no heartbeat.
  EXPECT_FALSE(HasLineStartingWith(lines, "[WARN] "));
  EXPECT_FALSE(HasLineStartingWith(lines, "[INFO] heartbeat duration: "));
  // Loaded flows have a queue: tracing into them is not refused.
  CapturedLog trace_log;
  engine->Trace("", "x", true);
  EXPECT_FALSE(HasLineStartingWith(trace_log.Lines(), "[WARN] "));
  EXPECT_EQ(engine->GetTracePoints("").size(), 1u);
}

TEST(FlowTraceInit, heartbeat_flow_always_starts_with_the_heartbeat_point) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"[]", {"heartbeat"}},
      {"[{point_id: A}, {point_id: B}]", {"heartbeat", "A", "B"}},
      {"[{point_id: A}, {point_id: heartbeat}]", {"heartbeat", "A", "heartbeat"}},
  };
  auto* engine = FlowTrace::GetInstance();
  for (const auto& [points, expected] : cases) {
    CapturedLog log;
    InitFrom("workflows:\n  - {flow_id: heartbeat, flow_points: " + points + "}\n");
    const auto lines = log.Lines();
    auto flow = engine->GetTraceFlowCfg("heartbeat");
    ASSERT_TRUE(flow);
    EXPECT_EQ(PointIds(*flow), expected) << points;
    EXPECT_TRUE(HasLine(lines, "[INFO] heartbeat duration: 0, heartbeat run: false"));

    const TracePointCfg& implicit = *flow->flow_points.front();
    EXPECT_EQ(implicit.description, "");
    EXPECT_TRUE(implicit.on_success);
    EXPECT_EQ(implicit.repeat_cnt, 100u);
    EXPECT_EQ(implicit.repeat_max, 10u);
    EXPECT_FALSE(implicit.is_critical);
    EXPECT_TRUE(implicit.on_failure);
    EXPECT_FALSE(implicit.on_timeout);
    EXPECT_EQ(implicit.event_id, 0u);
    EXPECT_EQ(implicit.timeout_ms, 0u);
    EXPECT_EQ(implicit.freq_min, 0.0F);
    EXPECT_EQ(implicit.exec_cnt, 0u);
  }
}

TEST(FlowTraceInit, heartbeat_flow_listing_its_point_first_is_left_unchanged) {
  InitFrom(R"(
workflows:
  - flow_id: heartbeat
    flow_points:
      - {point_id: heartbeat, event_id: 7, repeat_cnt: 1, optional: true}
      - {point_id: A}
)");
  auto flow = FlowTrace::GetInstance()->GetTraceFlowCfg("heartbeat");
  ASSERT_TRUE(flow);
  EXPECT_EQ(PointIds(*flow), (std::vector<std::string>{"heartbeat", "A"}));
  const TracePointCfg& first = *flow->flow_points.front();
  EXPECT_EQ(first.event_id, 7u);
  EXPECT_EQ(first.repeat_cnt, 1u);
  EXPECT_EQ(first.repeat_max, 0u);
  EXPECT_FALSE(first.on_success);
}

// --- Registration -----------------------------------------------------------------------

TEST(FlowTraceRegistration, flow_configuration_is_shared_and_logged) {
  ClearFlows();
  auto* engine = FlowTrace::GetInstance();
  auto flow = std::make_shared<TraceFlowCfg>();
  flow->flow_id = "heartbeat";
  flow->flow_name = "Beat";
  flow->diag_topic = "topic";
  flow->flow_points.push_back(std::make_shared<TracePointCfg>("A"));
  flow->flow_points.push_back(std::make_shared<TracePointCfg>("B"));

  CapturedLog log;
  engine->RegisterTraceFlow(flow);
  // Registered as built: no implicit heartbeat point, no publisher for the topic.
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"[INFO] Registered trace flow: "
                                                  "flow_id=heartbeat, flow_name=Beat, "
                                                  "points_count=2"});
  EXPECT_EQ(engine->GetTraceFlowCfg("heartbeat"), flow);
  EXPECT_EQ(PointIds(*flow), (std::vector<std::string>{"A", "B"}));
  EXPECT_FALSE(flow->publisher);
}

TEST(FlowTraceRegistration, reregistering_warns_and_empties_the_queue) {
  ClearFlows();
  auto* engine = FlowTrace::GetInstance();
  auto flow = std::make_shared<TraceFlowCfg>();
  flow->flow_id = "again";
  engine->RegisterTraceFlow(flow);
  engine->Trace("again", "p", true);
  engine->Trace("again", "q", true);
  ASSERT_EQ(engine->GetTracePoints("again").size(), 2u);

  CapturedLog log;
  engine->RegisterTraceFlow(flow);
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{
                "[WARN] Flow with ID 'again' already registered, overwriting",
                "[INFO] Registered trace flow: flow_id=again, flow_name=, points_count=0"}));
  EXPECT_TRUE(engine->GetTracePoints("again").empty());
}

TEST(FlowTraceRegistration, empty_configurations_are_refused) {
  ClearFlows();
  auto* engine = FlowTrace::GetInstance();
  std::vector<std::shared_ptr<TracePointCfg>> points;
  CapturedLog log;
  engine->RegisterTraceFlow(std::shared_ptr<TraceFlowCfg>());
  engine->RegisterTraceFlow(std::make_shared<TraceFlowCfg>());
  engine->RegisterTraceFlow("", points, "name", "desc", true);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "[ERROR] Invalid flow configuration: flow_id is empty",
                             "[ERROR] Invalid flow configuration: flow_id is empty",
                             "[ERROR] Invalid flow_id: cannot be empty",
                         }));
  EXPECT_TRUE(engine->GetTraceFlows().empty());
}

TEST(FlowTraceRegistration, five_argument_form_shares_the_points_and_has_no_topic) {
  ClearFlows();
  auto* engine = FlowTrace::GetInstance();
  std::vector<std::shared_ptr<TracePointCfg>> points = {std::make_shared<TracePointCfg>("p1"),
                                                        std::make_shared<TracePointCfg>("p2"),
                                                        std::make_shared<TracePointCfg>("p3")};
  CapturedLog log;
  engine->RegisterTraceFlow("five", points, "Five", "described", false);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"[INFO] Registered trace flow: flow_id=five, "
                                                  "flow_name=Five, points_count=3"});
  auto flow = engine->GetTraceFlowCfg("five");
  ASSERT_TRUE(flow);
  EXPECT_EQ(flow->flow_name, "Five");
  EXPECT_EQ(flow->description, "described");
  EXPECT_FALSE(flow->check_order);
  EXPECT_EQ(flow->diag_topic, "");
  EXPECT_EQ(flow->event_id, 0u);
  EXPECT_FALSE(flow->publisher);
  ASSERT_EQ(points.size(), 3u);
  ASSERT_EQ(flow->flow_points.size(), 3u);
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_EQ(flow->flow_points[i], points[i]);
  }
}

TEST(FlowTraceRegistration, removing_drops_queue_and_configuration_but_not_the_handler) {
  ClearFlows();
  auto* engine = FlowTrace::GetInstance();
  std::vector<std::shared_ptr<TracePointCfg>> points;
  engine->RegisterTraceFlow("gone", points, "", "", true);
  engine->RegisterFlowHandler("gone", NoopHandler());
  engine->Trace("gone", "p", true);
  {
    CapturedLog log;
    engine->RemoveTraceFlow("gone");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "[INFO] Removed flow queue for flow_id: gone",
                               "[INFO] Removed flow configuration for flow_id: gone",
                           }));
  }
  EXPECT_TRUE(engine->GetTraceFlows().empty());
  EXPECT_FALSE(engine->GetTraceFlowCfg("gone"));
  {
    CapturedLog log;
    engine->RemoveTraceFlow("gone");
    engine->RemoveTraceFlow("");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "[WARN] Flow queue not found for flow_id: gone",
                               "[WARN] Flow configuration not found for flow_id: gone",
                               "[ERROR] Invalid flow_id: cannot be empty",
                           }));
  }
  CapturedLog log;
  engine->RegisterFlowHandler("gone", NoopHandler());
  EXPECT_TRUE(
      HasLine(log.Lines(), "[WARN] Handler for flow_id 'gone' already exists, overwriting"));
}

TEST(FlowTraceRegistration, handlers_overwrite_with_one_warning) {
  auto* engine = FlowTrace::GetInstance();
  CapturedLog log;
  engine->RegisterFlowHandler("", NoopHandler());
  engine->RegisterFlowHandler("unregistered_flow", NoopHandler());
  // An empty function is stored like any other handler.
  engine->RegisterFlowHandler("unregistered_flow", FlowHandler());
  engine->RegisterFlowHandler("unregistered_flow", NoopHandler());
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{
                "[ERROR] Invalid flow_id: cannot be empty",
                "[INFO] Successfully registered handler for flow_id: unregistered_flow",
                "[WARN] Handler for flow_id 'unregistered_flow' already exists, overwriting",
                "[INFO] Successfully registered handler for flow_id: unregistered_flow",
                "[WARN] Handler for flow_id 'unregistered_flow' already exists, overwriting",
                "[INFO] Successfully registered handler for flow_id: unregistered_flow",
            }));
  EXPECT_FALSE(engine->GetTraceFlowCfg("unregistered_flow"));
}

// --- Queries ------------------------------------------------------------------------------

TEST(FlowTraceQueries, flows_are_listed_in_byte_order) {
  ClearFlows();
  auto* engine = FlowTrace::GetInstance();
  EXPECT_TRUE(engine->GetTraceFlows().empty());
  std::vector<std::shared_ptr<TracePointCfg>> points;
  for (const char* id : {"b", "B", "\xC3\xA9", "z", "a", "A", "_"}) {
    engine->RegisterTraceFlow(id, points, "", "", true);
  }
  const auto flows = engine->GetTraceFlows();
  EXPECT_EQ(std::vector<std::string>(flows.begin(), flows.end()),
            (std::vector<std::string>{"A", "B", "_", "a", "b", "z", "\xC3\xA9"}));
}

TEST(FlowTraceQueries, unknown_flow_configuration_is_empty_and_silent) {
  ClearFlows();
  CapturedLog log;
  EXPECT_FALSE(FlowTrace::GetInstance()->GetTraceFlowCfg("unknown"));
  EXPECT_FALSE(FlowTrace::GetInstance()->GetTraceFlowCfg(""));
  EXPECT_TRUE(FlowTrace::GetInstance()->GetTraceFlows().empty());
  EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
