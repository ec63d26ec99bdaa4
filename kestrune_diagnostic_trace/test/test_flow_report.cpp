// The contract between the engine and its readers, end to end: the engine
// runs flows and publishes, flow_monitor's node and model read, and the run
// history the monitor draws must agree with the engine's own counters.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <kestrune_diagnostic_trace/flow_report.hpp>
#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <rclcpp/rclcpp.hpp>

#include "flow_model.hpp"
#include "monitor_node.hpp"
#include "support/engine.hpp"
#include "support/monitor.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::monitor::FlowModel;
using kestrune::monitor::FlowView;
using kestrune::monitor::MonitorNode;
using kestrune::monitor::PointOutcome;
using kestrune_test::Engine;
using kestrune_test::FindFlow;
namespace report = kestrune::trace::report;

// Both flows share one topic with `probe`, whose success events tell that the
// monitor hears that topic before any run begins.
constexpr char kConfig[] = R"(
diagnostics: {enabled: true, period_ms: 100}
workflows:
  - flow_id: ordered
    diag_topic: /report_test/events
    event_id: 10
    stall_ms: 200
    flow_points:
      - {point_id: a, event_id: 11}
      - {point_id: b, event_id: 12}
      - {point_id: c, event_id: 13}
  - flow_id: loose
    diag_topic: /report_test/events
    event_id: 20
    check_order: false
    flow_points:
      - {point_id: x, event_id: 21}
      - {point_id: y, event_id: 22}
  - flow_id: probe
    diag_topic: /report_test/events
    flow_points:
      - {point_id: p, event_id: 31, on_success: true}
)";

class FlowReport : public ::testing::Test {
 protected:
  void SetUp() override {
    rclcpp::init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>("report_test");
    kestrune_test::TempFile file(kConfig);
    Engine()->Init(file.path(), node_);
    config_ = kestrune::trace::ParseFlowConfig(kConfig);
    model_ = std::make_unique<FlowModel>(config_);
    monitor_ = std::make_unique<MonitorNode>(*model_, config_);
  }
  void TearDown() override {
    monitor_.reset();
    rclcpp::shutdown();
  }

  FlowView Flow(const std::string& flow_id) { return FindFlow(model_->Changes(0).first, flow_id); }

  std::string Value(const std::string& flow_id, const char* key) {
    for (const auto& [name, value] : Flow(flow_id).values) {
      if (name == key) {
        return value;
      }
    }
    return "<absent>";
  }

  /// Spins the monitor, calling `step` each round, until `holds` or 20 s.
  bool SpinUntil(
      const std::function<bool()>& holds, const std::function<void()>& step = [] {}) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      step();
      rclcpp::spin_some(monitor_->node());
      if (holds()) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::shared_ptr<rclcpp::Node> node_;
  kestrune::trace::ParsedFlowConfig config_;
  std::unique_ptr<FlowModel> model_;
  std::unique_ptr<MonitorNode> monitor_;
};

TEST_F(FlowReport, the_monitors_runs_agree_with_the_engines_counters) {
  ASSERT_TRUE(SpinUntil([&] { return !Flow("probe").events.empty() && Flow("ordered").node != ""; },
                        [] {
                          Engine()->Trace("probe", "p", true);
                          Engine()->ResetFlow("probe");
                        }))
      << "the monitor heard neither the events nor /diagnostics";

  // A run that stalls and then passes: one run, passed, as long as it took.
  Engine()->Trace("ordered", "a", true);
  ASSERT_TRUE(SpinUntil([&] {
    for (const auto& event : Flow("ordered").events) {
      if (event.kind == static_cast<uint8_t>(report::EventKind::kStall)) {
        return true;
      }
    }
    return false;
  })) << "no stall event";
  EXPECT_TRUE(Flow("ordered").runs.empty()) << "a stall was taken for the end of a run";
  Engine()->Trace("ordered", "b", true);
  Engine()->Trace("ordered", "c", true);
  Engine()->CheckFlow("ordered");
  Engine()->ResetFlow("ordered");
  // A failing ordered run: a critical point passed over.
  Engine()->Trace("ordered", "a", true);
  Engine()->Trace("ordered", "c", true);
  Engine()->CheckFlow("ordered");
  // An unordered run that passes, and one that misses a point.
  Engine()->Trace("loose", "y", true);
  Engine()->Trace("loose", "x", true);
  Engine()->CheckFlow("loose");
  Engine()->ResetFlow("loose");
  Engine()->Trace("loose", "x", true);
  Engine()->CheckFlow("loose");

  ASSERT_TRUE(SpinUntil([&] {
    return Value("ordered", report::kRunsChecked) == "2" &&
           Value("loose", report::kRunsChecked) == "2" && Flow("ordered").runs.size() == 2 &&
           Flow("loose").runs.size() == 2;
  })) << "runs checked: "
      << Value("ordered", report::kRunsChecked) << ", " << Value("loose", report::kRunsChecked);

  for (const std::string flow_id : {"ordered", "loose"}) {
    SCOPED_TRACE(flow_id);
    const FlowView flow = Flow(flow_id);
    size_t failed = 0;
    for (const auto& run : flow.runs) {
      failed += run.passed ? 0 : 1;
    }
    EXPECT_EQ(std::to_string(flow.runs.size()), Value(flow_id, report::kRunsChecked));
    EXPECT_EQ(std::to_string(failed), Value(flow_id, report::kRunsFailed));
    EXPECT_EQ(flow.runs[0].verdict, "SUCCESS");
    EXPECT_EQ(flow.runs[1].verdict, "MISSING_POINT");
    EXPECT_EQ(flow.runs.back().verdict, Value(flow_id, report::kLastVerdict));
  }
  // The passing run lasted through its stall, first point to last.
  EXPECT_GE(*Flow("ordered").runs[0].duration_s, 0.2);
  EXPECT_EQ(Flow("ordered").points[1].outcome, PointOutcome::kMissing);
  EXPECT_EQ(Flow("loose").points[1].outcome, PointOutcome::kMissing);
  // The verdict of a mismatch is the flow's last event, on /diagnostics too.
  EXPECT_EQ(Value("ordered", report::kLastEvent), "Status Failed, point b missing in flow ordered");
}

}  // namespace
