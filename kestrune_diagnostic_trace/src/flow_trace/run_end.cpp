// Runs that end by themselves: check_at_end checks a run and starts the next
// once its last point has come.
#include <algorithm>
#include <string>
#include <unordered_set>

#include <rclcpp/clock.hpp>

#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "kestrune_diagnostic_trace/flow_trace.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace trace {

void FlowTrace::endRunIfComplete(const std::string& flow_id, FlowState& flow,
                                 const TracePoint& point) {
  const TraceFlowCfg& cfg = *flow.cfg;
  const auto& points = cfg.flow_points;
  if (points.empty() || flow_id == kHeartbeatFlowId) {
    return;
  }
  if (cfg.check_order) {
    // The running check moves past the last point once its repeat count is reached.
    if (cfg.check_index < points.size()) {
      return;
    }
  } else {
    const bool configured = std::any_of(points.begin(), points.end(), [&](const auto& expected) {
      return expected->point_id == point.point_id;
    });
    if (!configured) {
      return;
    }
    std::unordered_set<std::string> recorded;
    for (const auto& entry : flow.queue) {
      recorded.insert(entry->point_id);
    }
    for (const auto& expected : points) {
      if (recorded.count(expected->point_id) == 0) {
        return;
      }
    }
  }
  endRun(flow_id, flow);
}

void FlowTrace::endRun(const std::string& flow_id, FlowState& flow) {
  KLOG_INFO("Run of flow '{}' ended: check and reset", flow_id);
  try {
    checkRun(flow_id, flow, rclcpp::Clock(RCL_SYSTEM_TIME).now());
  } catch (...) {
    // A verdict that could not be published still ends its run.
    resetRun(flow);
    throw;
  }
  resetRun(flow);
}

}  // namespace trace
}  // namespace kestrune
