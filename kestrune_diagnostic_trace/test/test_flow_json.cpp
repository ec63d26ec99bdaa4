#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "flow_json.hpp"
#include "flow_model.hpp"
#include "support/monitor.hpp"

namespace {

using kestrune::monitor::FlowModel;
using kestrune::monitor::FlowsJson;
using kestrune_test::FlowEvent;
using kestrune_test::FlowStatus;
using kestrune_test::MonitorConfig;
using nlohmann::json;

json Render(FlowModel& model) {
  auto changes = model.Changes(0);
  return json::parse(FlowsJson(changes.first, changes.second, true));
}

TEST(FlowJson, carries_every_field_the_page_and_tools_read) {
  FlowModel model(MonitorConfig());
  model.AddStatus(FlowStatus("arm", "pick", 1,
                             {{"state", "running"},
                              {"budget", "1.50 s"},
                              {"median duration", "1.20 s"},
                              {"slowest-growing step", "grasp -> lift"}}));
  model.AddEvent(FlowEvent("pick", 13, 1, "Status Failed: grasp", 5, 500000000));
  model.AddEvent(kestrune_test::VerdictEvent("pick", 10, kestrune::trace::FlowCheckStatus::FAILED,
                                             "grasp", 500, 6));
  const json body = Render(model);
  EXPECT_TRUE(body["full"]);
  EXPECT_GT(body["version"].get<uint64_t>(), 0U);
  ASSERT_EQ(body["flows"].size(), 2U);
  const json& pick = body["flows"][1];
  EXPECT_EQ(pick["flow_id"], "pick");
  EXPECT_EQ(pick["node"], "arm");
  EXPECT_EQ(pick["name"], "arm: pick");
  EXPECT_EQ(pick["level"], "WARN");
  EXPECT_EQ(pick["message"], "message of pick");
  // Later values of a repeated key win, as a dictionary shows them.
  EXPECT_EQ(pick["values"]["state"], "running");
  EXPECT_EQ(pick["values"]["flow id"], "pick");
  EXPECT_EQ(pick["points"][2]["point_id"], "grasp");
  EXPECT_EQ(pick["points"][2]["outcome"], "failed");
  EXPECT_EQ(pick["points"][1]["critical"], false);
  ASSERT_EQ(pick["events"].size(), 2U);
  EXPECT_DOUBLE_EQ(pick["events"][0]["stamp"].get<double>(), 5.5);
  EXPECT_EQ(pick["events"][0]["point_id"], "grasp");
  EXPECT_EQ(pick["events"][0]["status"], 1);
  EXPECT_EQ(pick["events"][0]["kind"], "point");
  EXPECT_EQ(pick["events"][1]["kind"], "verdict");
  EXPECT_EQ(pick["events"][1]["verdict"], "FAILED");
  EXPECT_EQ(pick["events"][1]["duration_ms"], 500);
  EXPECT_EQ(pick["runs"][0]["verdict"], "FAILED");
  EXPECT_TRUE(pick["age_s"].is_number());
  EXPECT_TRUE(body["flows"][0]["age_s"].is_null());
  EXPECT_EQ(body["left_out"], 0);
  EXPECT_EQ(pick["runs"][0]["passed"], false);
  EXPECT_DOUBLE_EQ(pick["runs"][0]["duration_s"].get<double>(), 0.5);
  // The chart's lines and marked step, from the statistics values.
  EXPECT_DOUBLE_EQ(pick["chart"]["budget_s"].get<double>(), 1.5);
  EXPECT_DOUBLE_EQ(pick["chart"]["median_s"].get<double>(), 1.2);
  EXPECT_EQ(pick["chart"]["slowest_step"], "grasp -> lift");
  EXPECT_TRUE(body["flows"][0]["chart"]["budget_s"].is_null());
}

TEST(FlowJson, robot_texts_survive_as_data_whatever_their_bytes) {
  const std::string hostile = "<img src=x onerror=alert(1)>\"'</script>";
  const std::string broken_utf8 = "caf\xc3 \xff end";
  const auto config = kestrune::trace::ParseFlowConfig(
      "workflows:\n  - flow_id: '" + hostile.substr(0, 28) +
      "'\n    diag_topic: /x\n    flow_points:\n      - {point_id: p, event_id: 1}\n");
  ASSERT_EQ(config.flows.size(), 1U);
  FlowModel model(config);
  auto status = FlowStatus("n", hostile, 2);
  status.message = broken_utf8;
  model.AddStatus(status);
  // A message that is not UTF-8 must not take the whole answer down.
  const json body = Render(model);
  ASSERT_EQ(body["flows"].size(), 2U);
  EXPECT_EQ(body["flows"][0]["flow_id"], hostile.substr(0, 28));
  EXPECT_EQ(body["flows"][1]["flow_id"], hostile);
  EXPECT_EQ(body["flows"][1]["message"], "caf\xef\xbf\xbd \xef\xbf\xbd end");
}

}  // namespace
