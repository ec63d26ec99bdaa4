// trace_scenario_node: drives the flow tracer through six scripted runs of two
// configured flows, logs each run's duration, then spins until shutdown.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <ament_index_cpp/get_package_share_directory.hpp>
#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <kestrune_diagnostic_trace/logger.hpp>
#include <rclcpp/rclcpp.hpp>

#include "flow_event_handler.hpp"
#include "flow_scope.hpp"

namespace {

using kestrune::scenario::FlowEventHandler;
using kestrune::scenario::FlowScope;
using kestrune::trace::FlowHandler;
using kestrune::trace::FlowTrace;
using kestrune::trace::TracePoint;

const char kPackage[] = "kestrune_diagnostic_trace";
const char kGrabPlace[] = "grab_place_task";
const char kToilet[] = "toilet";

void Wait(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

/// The gripper point as a caller prepares it, with metadata attached.
std::shared_ptr<TracePoint> PreparedPoint(bool success) {
  auto point = std::make_shared<TracePoint>("gripper_opened", success);
  point->metadata.emplace("gripper", "opened");
  point->metadata.emplace("pos", "2000");
  return point;
}

}  // namespace

int main(int argc, char** argv) {
  rclcpp::init(argc, argv);

  std::string share_dir;
  try {
    share_dir = ament_index_cpp::get_package_share_directory(kPackage);
  } catch (const std::exception& e) {
    KLOG_ERROR(
        "Share directory of package '{}' not found ({}); source the setup script of its "
        "install space first",
        kPackage, e.what());
    rclcpp::shutdown();
    return EXIT_FAILURE;
  }
  const std::string config_path = share_dir + "/config/" + "test_flow.yaml";
  auto node = std::make_shared<rclcpp::Node>("diag_trace_test");
  const FlowHandler handler = FlowEventHandler();
  FlowTrace* const trace = FlowTrace::GetInstance();

  KLOG_INFO("flow config: {}", config_path);
  trace->Init(config_path, node);
  trace->RegisterFlowHandler(kGrabPlace, handler);
  trace->RegisterFlowHandler(kToilet, handler);

  // Pass 1: plain points and a prepared one; the gripper and the place report failure.
  trace->Trace(kGrabPlace, "home_pos_reached", true);
  Wait(100);
  trace->Trace(kGrabPlace, PreparedPoint(false));
  Wait(200);
  trace->Trace(kGrabPlace, "target_pos_reached", true);
  Wait(100);
  trace->Trace(kGrabPlace, "gripper_closed", true);
  Wait(300);
  trace->Trace(kGrabPlace, "place_pos_reached", false);
  Wait(500);
  trace->Trace(kGrabPlace, "gripper_opened", true);
  trace->Trace(kGrabPlace, "task_completed", true);
  trace->CheckFlow(kGrabPlace);
  KLOG_INFO("--------Flow 'grab_place_task' duration: {} ms--------",
            trace->GetFlowDuration(kGrabPlace));

  // Pass 2: a failed point carrying metadata, and no gripper_closed at all.
  trace->ResetFlow(kGrabPlace);
  trace->Trace(kGrabPlace, "home_pos_reached", true);
  Wait(100);
  trace->Trace(kGrabPlace, PreparedPoint(true));
  Wait(200);
  trace->Trace(kGrabPlace, "target_pos_reached", false, {{"status", "gripper not inplace"}});
  Wait(100);
  trace->Trace(kGrabPlace, "place_pos_reached", true);
  Wait(500);
  trace->Trace(kGrabPlace, "gripper_opened", true);
  trace->Trace(kGrabPlace, "task_completed", true);
  trace->CheckFlow(kGrabPlace);
  KLOG_INFO("--------Flow 'grab_place_task' duration: {} ms--------",
            trace->GetFlowDuration(kGrabPlace));

  // Pass 3: target_pos_reached reported twice; the engine is fetched for every call.
  FlowTrace::GetInstance()->ResetFlow(kGrabPlace);
  FlowTrace::GetInstance()->Trace(kGrabPlace, "home_pos_reached", true);
  Wait(100);
  FlowTrace::GetInstance()->Trace(kGrabPlace, PreparedPoint(true));
  Wait(200);
  FlowTrace::GetInstance()->Trace(kGrabPlace, "target_pos_reached", true);
  Wait(100);
  FlowTrace::GetInstance()->Trace(kGrabPlace, "target_pos_reached", true);
  Wait(100);
  FlowTrace::GetInstance()->Trace(kGrabPlace, "gripper_closed", true);
  Wait(300);
  FlowTrace::GetInstance()->Trace(kGrabPlace, "place_pos_reached", true);
  Wait(500);
  FlowTrace::GetInstance()->Trace(kGrabPlace, "gripper_opened", true);
  FlowTrace::GetInstance()->Trace(kGrabPlace, "task_completed", true);
  FlowTrace::GetInstance()->CheckFlow(kGrabPlace);
  KLOG_INFO("--------Flow 'grab_place_task' duration: {} ms--------",
            FlowTrace::GetInstance()->GetFlowDuration(kGrabPlace));

  // Pass 4: a clean run through a scope, which checks the flow after the duration line.
  {
    FlowScope scope(kGrabPlace);
    scope.Trace("home_pos_reached");
    Wait(100);
    scope.Trace(PreparedPoint(true));
    Wait(100);
    scope.Trace("target_pos_reached");
    Wait(100);
    scope.Trace("gripper_closed");
    Wait(300);
    scope.Trace("place_pos_reached");
    Wait(500);
    scope.Trace("gripper_opened");
    scope.Trace("task_completed");
    KLOG_INFO("--------Flow {} duration: {} ms--------", scope.flow_id(), scope.GetFlowDuration());
  }

  // Pass 5: the scope only resets and checks; the points go to the engine directly.
  {
    FlowScope scope(kToilet);
    trace->Trace(kToilet, "start", true);
    trace->Trace(kToilet, "movebase", true);
    trace->Trace(kToilet, "toolswitch", true);
    Wait(200);
    trace->Trace(kToilet, "updatetool", true);
    trace->Trace(kToilet, "perception", true);
    trace->Trace(kToilet, "doclean", true);
    Wait(800);
    trace->Trace(kToilet, "complete", true);
    KLOG_INFO("--------Flow 'toilet' 1st duration: {} ms--------", trace->GetFlowDuration(kToilet));
  }

  // Pass 6: as pass 5, with updatemap in place of perception.
  {
    FlowScope scope(kToilet);
    trace->Trace(kToilet, "start", true);
    trace->Trace(kToilet, "movebase", true);
    trace->Trace(kToilet, "toolswitch", true);
    Wait(200);
    trace->Trace(kToilet, "updatetool", true);
    trace->Trace(kToilet, "updatemap", true);
    trace->Trace(kToilet, "doclean", true);
    Wait(800);
    trace->Trace(kToilet, "complete", true);
    KLOG_INFO("--------Flow 'toilet' 2nd duration: {} ms--------", trace->GetFlowDuration(kToilet));
  }

  // The heartbeat and the diagnostic publishers stay up until ROS 2 shuts down.
  // A signal during the passes has already shut ROS 2 down; rclcpp's executor
  // then refuses to start, which is the end we were waiting for anyway.
  try {
    rclcpp::spin(node);
  } catch (const std::runtime_error&) {
    if (rclcpp::ok()) {
      throw;
    }
  }
  rclcpp::shutdown();
  return EXIT_SUCCESS;
}
