// Recording points into flow queues, resetting and reading them.
#include <string_view>
#include <utility>

#include "engine_lock.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "kestrune_diagnostic_trace/flow_trace.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"
#include "running_check.hpp"

namespace kestrune {
namespace trace {

namespace {

/// The heartbeat queue keeps at most this many of its newest points: the
/// running check needs two, and 1000 keep a useful history (about 8 to 17
/// minutes at a 1 s period) in roughly 150 KB.
constexpr size_t kHeartbeatQueueLimit = 1000;

/// Makes room in the heartbeat flow's queue before an append: it is never
/// reset, so it keeps only the newest points.
void trimHeartbeatQueue(FlowQueue& queue) {
  // Dropping half at once keeps the cost per heartbeat constant on average.
  queue.erase(queue.begin(), queue.end() - kHeartbeatQueueLimit / 2);
  uint32_t index = 0;
  for (auto& point : queue) {
    // Renumbered copies: a check result may still hold the old point and read
    // its index without the engine lock.
    point = std::make_shared<TracePoint>(*point);
    point->index = index++;
  }
}

bool isHeartbeat(const std::string& flow_id) {
  // Compared as a view: its length decides at once for almost every flow id.
  return std::string_view(flow_id) == kHeartbeatFlowId;
}

// Repeat counts belong to one run, like the queue: a new run counts afresh.
void rewindRunningCheck(TraceFlowCfg& flow) {
  flow.check_index = 0;
  for (auto& point : flow.flow_points) {
    point->exec_cnt = 0;
  }
}

}  // namespace

// The hot path: one lookup finds the flow's queue and configuration, and the
// running check is handed both. A point made by Trace itself is moved, not shared.
void FlowTrace::recordPoint(const std::string& flow_id, std::shared_ptr<TracePoint>&& point) {
  detail::EngineLock lock(mutex_, "Trace");
  if (!lock) {
    return;
  }
  auto flow = flows_.find(flow_id);
  if (flow == flows_.end() || !point) {
    // A remote flow is in no table of recorded flows: its points leave here.
    if (!point || !sendRemotePoint(flow_id, *point)) {
      KLOG_WARN("flow_id {} not found", flow_id);
    }
    return;
  }
  FlowQueue& queue = flow->second.queue;
  // Only the heartbeat flow is bounded; the size test keeps that check off the hot path.
  if (queue.size() >= kHeartbeatQueueLimit && isHeartbeat(flow_id)) {
    trimHeartbeatQueue(queue);
  }
  point->index = static_cast<uint32_t>(queue.size());
  // Held apart from the queue: finding the back of a deque again costs more than a register.
  const TracePoint& recorded = *point;
  queue.push_back(std::move(point));
  detail::RunningCheck(flow_id, queue, recorded, *flow->second.cfg, flow->second.facts,
                       publish_callback_);
  if (flow->second.cfg->check_at_end) {
    endRunIfComplete(flow_id, flow->second, recorded);
  }
}

void FlowTrace::Trace(const std::string& flow_id, const std::shared_ptr<TracePoint>& point) {
  recordPoint(flow_id, std::shared_ptr<TracePoint>(point));
}

void FlowTrace::Trace(const std::string& flow_id, const std::string& point_id, bool success) {
  recordPoint(flow_id, std::make_shared<TracePoint>(point_id, success));
}

void FlowTrace::Trace(const std::string& flow_id, const std::string& point_id, bool success,
                      const std::unordered_map<std::string, std::string>& metadata) {
  auto point = std::make_shared<TracePoint>(point_id, success);
  point->metadata.insert(metadata.begin(), metadata.end());
  recordPoint(flow_id, std::move(point));
}

void FlowTrace::ResetFlow(const std::string& flow_id) {
  if (isHeartbeat(flow_id)) {
    KLOG_WARN("Can't reset {} flow", flow_id);
    return;
  }
  detail::EngineLock lock(mutex_, "ResetFlow");
  if (!lock) {
    return;
  }
  auto flow = flows_.find(flow_id);
  if (flow == flows_.end()) {
    if (!sendRemoteRequest(flow_id, false)) {
      KLOG_WARN("flow_id {} not found", flow_id);
    }
    return;
  }
  startNewRun(flow->second);
}

void FlowTrace::startNewRun(FlowState& flow) {
  flow.queue.clear();
  rewindRunningCheck(*flow.cfg);
  flow.facts.NewRun();
}

void FlowTrace::ResetAllFlows() {
  detail::EngineLock lock(mutex_, "ResetAllFlows");
  if (!lock) {
    return;
  }
  for (auto& [flow_id, flow] : flows_) {
    if (!isHeartbeat(flow_id)) {
      startNewRun(flow);
    } else {
      // Its queue is kept, and so is the count of the beats in it.
      flow.cfg->check_index = 0;
    }
  }
  for (const auto& remote : remote_flows_) {
    sendRemoteRequest(remote.first, false);
  }
}

const FlowQueue& FlowTrace::GetTracePoints(const std::string& flow_id) {
  detail::EngineLock lock(mutex_, "GetTracePoints");
  if (!lock) {
    return empty_queue_;
  }
  auto flow = flows_.find(flow_id);
  if (flow == flows_.end()) {
    KLOG_WARN("flow_id {} not found", flow_id);
    return empty_queue_;
  }
  return flow->second.queue;
}

uint64_t FlowTrace::GetFlowDuration(const std::string& flow_id) {
  if (flow_id.empty()) {
    KLOG_ERROR("Invalid flow_id: cannot be empty");
    return 0;
  }
  detail::EngineLock lock(mutex_, "GetFlowDuration");
  if (!lock) {
    return 0;
  }
  auto flow = flows_.find(flow_id);
  if (flow == flows_.end()) {
    KLOG_WARN("Flow with ID '{}' not found", flow_id);
    return 0;
  }
  const FlowQueue& queue = flow->second.queue;
  if (queue.empty()) {
    KLOG_DEBUG("Flow '{}' has no trace points", flow_id);
    return 0;
  }
  const int64_t start = queue.front()->timestamp_ms;
  const int64_t end = queue.back()->timestamp_ms;
  // A wall clock set back between the two points reads as a zero-length flow.
  const uint64_t duration = start < end ? static_cast<uint64_t>(end - start) : 0;
  KLOG_INFO("Flow '{}' duration: {} ms (start: {}, end: {})", flow_id, duration, start, end);
  return duration;
}

}  // namespace trace
}  // namespace kestrune
