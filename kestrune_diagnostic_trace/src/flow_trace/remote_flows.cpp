// Flows that span processes: remote flows sent to a flow checker, and what
// the checker needs of the engine.
#include <algorithm>
#include <exception>
#include <utility>

#include "engine_lock.hpp"
#include "kestrune_diagnostic_trace/flow_trace.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"
#include "kestrune_diagnostic_trace/point_sender.hpp"

namespace kestrune {
namespace trace {

void FlowTrace::JudgeRemoteFlows() {
  judge_remote_flows_ = true;
}

FlowTrace::RemoteFlows FlowTrace::takeRemoteFlows(ParsedFlowConfig& parsed, rclcpp::Node* node,
                                                  std::exception_ptr& refused) const {
  RemoteFlows remote;
  // A later flow of an id replaces an earlier one: the last one decides where the id is judged.
  std::unordered_map<std::string, const TraceFlowCfg*> last;
  for (const auto& flow : parsed.flows) {
    last[flow->flow_id] = flow.get();
  }
  for (const auto& [flow_id, flow] : last) {
    if (!flow->remote || judge_remote_flows_) {
      continue;
    }
    if (flow_id == kHeartbeatFlowId) {
      KLOG_WARN("Flow '{}' is marked remote; the heartbeat beats here", flow_id);
    } else if (node == nullptr) {
      KLOG_WARN(
          "Flow '{}' is marked remote but the engine has no node to send with: it is "
          "judged here",
          flow_id);
    } else {
      remote.flows.emplace(flow_id, nullptr);
    }
  }
  if (remote.flows.empty()) {
    return remote;
  }
  try {
    remote.sender = std::make_shared<PointSender>(*node, parsed.points_topic);
  } catch (...) {
    // Like a diag_topic ROS 2 refuses, the error reaches Init's caller; the
    // flows are judged here rather than lost.
    refused = std::current_exception();
    return RemoteFlows();
  }
  auto taken = std::stable_partition(
      parsed.flows.begin(), parsed.flows.end(),
      [&](const auto& flow) { return remote.flows.count(flow->flow_id) == 0; });
  for (auto flow = taken; flow != parsed.flows.end(); ++flow) {
    // Later flows of the same id come later in the file: the last one stays.
    remote.flows[(*flow)->flow_id] = std::move(*flow);
  }
  parsed.flows.erase(taken, parsed.flows.end());
  KLOG_INFO("{} flows are judged by a flow checker; their points go to {}", remote.flows.size(),
            remote.sender->topic());
  return remote;
}

bool FlowTrace::sendRemotePoint(const std::string& flow_id, const TracePoint& point) {
  if (remote_flows_.count(flow_id) == 0) {
    return false;
  }
  remote_sender_->Trace(flow_id, point);
  return true;
}

bool FlowTrace::sendRemoteRequest(const std::string& flow_id, bool check) {
  if (remote_flows_.count(flow_id) == 0) {
    return false;
  }
  if (check) {
    remote_sender_->CheckFlow(flow_id);
  } else {
    remote_sender_->ResetFlow(flow_id);
  }
  return true;
}

void FlowTrace::NoteLatePoint(const std::string& flow_id) {
  detail::EngineLock lock(mutex_, "NoteLatePoint");
  if (!lock) {
    return;
  }
  auto flow = flows_.find(flow_id);
  if (flow != flows_.end()) {
    ++flow->second.facts.late_points;
  }
}

}  // namespace trace
}  // namespace kestrune
