// A minimal ROS 2 node that traces one flow, checks the run and receives the
// verdict through a flow handler.
//
//   minimal_node <flow configuration file>     e.g. examples/minimal_flow.yaml
//
// Exits with 0 when the run of "pick" passes its check, 1 when it does not or
// when the file names an invalid topic.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <thread>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <kestrune_diagnostic_trace/logger.hpp>
#include <rclcpp/rclcpp.hpp>

using kestrune::trace::FlowCheckResult;
using kestrune::trace::FlowCheckStatus;
using kestrune::trace::FlowTrace;

namespace {

// DDS matches a new publisher with its subscribers a little after both exist,
// usually within tens of milliseconds; an event published before that reaches
// nobody. A node that traces at once waits, with a bound, until the flow's
// publisher is matched. Returns whether it was.
bool WaitForListener(FlowTrace& tracer, const std::string& flow_id,
                     std::chrono::milliseconds bound) {
  const auto flow = tracer.GetTraceFlowCfg(flow_id);
  if (!flow || !flow->publisher) {
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (flow->publisher->get_subscription_count() == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  rclcpp::init(argc, argv);
  if (argc < 2) {
    KLOG_ERROR("usage: minimal_node <flow configuration file>");
    rclcpp::shutdown();
    return EXIT_FAILURE;
  }
  auto node = std::make_shared<rclcpp::Node>("pick_station");

  // Load the flows; each diag_topic of the file gets a publisher on this node.
  // YAML errors are logged and leave the tracer without those flows, but ROS 2's
  // own errors, such as an invalid diag_topic, are thrown.
  FlowTrace* tracer = FlowTrace::GetInstance();
  try {
    tracer->Init(argv[1], node);
  } catch (const std::exception& e) {
    KLOG_ERROR("cannot load {}: {}", argv[1], e.what());
    rclcpp::shutdown();
    return EXIT_FAILURE;
  }
  if (!WaitForListener(*tracer, "pick", std::chrono::seconds(2))) {
    KLOG_WARN("nobody listens to the events of pick yet; they go unheard");
  }

  // The handler runs inside CheckFlow with the tracer locked: it may log, copy
  // or hand the result on, but it must not call the tracer.
  tracer->RegisterFlowHandler(
      "pick", [](const std::string& flow_id, const std::shared_ptr<FlowCheckResult>& result) {
        KLOG_INFO("{} finished with status {}", flow_id, static_cast<uint32_t>(result->status));
      });

  // One run of the flow: start from an empty record, report each point as the
  // robot reaches it (a point may carry key/value metadata), then judge the run.
  tracer->ResetFlow("pick");
  tracer->Trace("pick", "approach", true);
  tracer->Trace("pick", "grasp", true, {{"force_n", "12"}});
  tracer->Trace("pick", "lift", true);
  const std::shared_ptr<FlowCheckResult> result = tracer->CheckFlow("pick");
  KLOG_INFO("pick took {} ms", tracer->GetFlowDuration("pick"));

  rclcpp::shutdown();
  return result->status == FlowCheckStatus::SUCCESS ? EXIT_SUCCESS : EXIT_FAILURE;
}
