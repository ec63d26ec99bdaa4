// Recording points into flow queues, resetting and reading them.
#include <string_view>
#include <utility>

#include "engine_lock.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "kestrune_diagnostic_trace/flow_trace.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"
#include "publication.hpp"
#include "running_check.hpp"
#include "wall_clock.hpp"

namespace kestrune {
namespace trace {

using detail::FlowState;

namespace {

/// The heartbeat queue keeps at most this many of its newest points: the
/// running check needs two, and 1000 keep a useful history (about 8 to 17
/// minutes at a 1 s period) in roughly 150 KB.
constexpr size_t kHeartbeatQueueLimit = 1000;

/// Makes room in the heartbeat flow's queue before an append: it is never
/// reset, so it keeps only the newest points.
void trimHeartbeatQueue(FlowState& flow) {
  FlowQueue& queue = flow.queue;
  // Dropping half at once keeps the cost per heartbeat constant on average.
  const size_t dropped = queue.size() - kHeartbeatQueueLimit / 2;
  for (size_t i = 0; i < dropped; ++i) {
    flow.spare.Keep(std::move(queue[i]), flow.points_handed_out);
  }
  queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(dropped));
  uint32_t index = 0;
  for (auto& point : queue) {
    // A point held elsewhere (a check result) may have its index read without
    // the engine lock: it is renumbered as a copy.
    if (flow.points_handed_out && !detail::HeldOnlyHere(point)) {
      point = std::make_shared<TracePoint>(*point);
    }
    point->index = index++;
  }
  // Every point left is the queue's alone now.
  flow.points_handed_out = false;
}

bool isHeartbeat(const std::string& flow_id) {
  // Compared as a view: its length decides at once for almost every flow id.
  return std::string_view(flow_id) == kHeartbeatFlowId;
}

// Out of line, so that the lookup around it stays small enough to inline.
[[gnu::noinline, gnu::cold]] void warnNotFound(const std::string& flow_id) {
  KLOG_WARN("flow_id {} not found", flow_id);
}

/// A point of a flow recorded elsewhere, stamped as the engine stamps its own.
[[gnu::noinline, gnu::cold]] TracePoint PointMadeAt(const std::string& point_id, bool success,
                                                    int64_t timestamp_ms) {
  TracePoint point(point_id, success);
  point.timestamp_ms = timestamp_ms;
  return point;
}

// Repeat counts belong to one run, like the queue: a new run counts afresh.
void rewindRunningCheck(TraceFlowCfg& flow) {
  flow.check_index = 0;
  for (auto& point : flow.flow_points) {
    point->exec_cnt = 0;
  }
}

}  // namespace

// A reset: the run's points go to the spare ones, and a new run begins.
void FlowTrace::resetRun(FlowState& flow) {
  flow.spare.KeepAll(flow.queue, flow.points_handed_out);
  flow.points_handed_out = false;
  rewindRunningCheck(*flow.cfg);
  flow.facts.NewRun();
}

// The hot path: the flow is found once, the point comes from the flow's own
// spare points, and the running check is handed the flow's whole state.
void FlowTrace::record(const std::string& flow_id, FlowState& flow,
                       std::shared_ptr<TracePoint>&& point, bool callers) {
  FlowQueue& queue = flow.queue;
  // Only the heartbeat flow is bounded; the size test keeps that check off the hot path.
  if (queue.size() >= kHeartbeatQueueLimit && isHeartbeat(flow_id)) {
    trimHeartbeatQueue(flow);
  }
  // Noted after the trim, which clears the note for the points it leaves.
  if (callers) {
    flow.points_handed_out = true;
  }
  point->index = static_cast<uint32_t>(queue.size());
  // Held apart from the queue: finding the back of a deque again costs more than a register.
  const TracePoint& recorded = *point;
  queue.push_back(std::move(point));
  detail::RunningCheck(flow_id, recorded, flow, *publication_);
  if (flow.cfg->check_at_end) {
    endRunIfComplete(flow_id, flow, recorded);
  }
}

void FlowTrace::traceElsewhere(const std::string& flow_id, const TracePoint& point) {
  if (!sendRemotePoint(flow_id, point)) {
    warnNotFound(flow_id);
  }
}

// Inline: it is on the path of every Trace, and only this file uses it.
inline FlowState* FlowTrace::findFlow(const std::string& flow_id) {
  auto flow = flows_.find(flow_id);
  return flow == flows_.end() ? nullptr : &flow->second;
}

void FlowTrace::traceLocked(const std::string& flow_id, const std::string& point_id, bool success,
                            int64_t timestamp_ms) {
  if (FlowState* flow = findFlow(flow_id)) {
    record(flow_id, *flow, flow->spare.Take(point_id, success, timestamp_ms));
  } else {
    traceElsewhere(flow_id, PointMadeAt(point_id, success, timestamp_ms));
  }
}

void FlowTrace::Trace(const std::string& flow_id, const std::shared_ptr<TracePoint>& point) {
  detail::EngineLock lock(mutex_, "Trace");
  if (!lock) {
    return;
  }
  if (!point) {
    // Refused as an unknown flow is.
    warnNotFound(flow_id);
    return;
  }
  if (FlowState* flow = findFlow(flow_id)) {
    record(flow_id, *flow, std::shared_ptr<TracePoint>(point), true);
  } else {
    traceElsewhere(flow_id, *point);
  }
}

void FlowTrace::Trace(const std::string& flow_id, const std::string& point_id, bool success) {
  // Stamped before the lock, as a point made by the caller would be.
  const int64_t timestamp_ms = detail::WallClockMs();
  detail::EngineLock lock(mutex_, "Trace");
  if (lock) {
    traceLocked(flow_id, point_id, success, timestamp_ms);
  }
}

void FlowTrace::Trace(const std::string& flow_id, const std::string& point_id, bool success,
                      const std::unordered_map<std::string, std::string>& metadata) {
  const int64_t timestamp_ms = detail::WallClockMs();
  detail::EngineLock lock(mutex_, "Trace");
  if (!lock) {
    return;
  }
  if (FlowState* flow = findFlow(flow_id)) {
    auto point = flow->spare.Take(point_id, success, timestamp_ms);
    point->metadata.insert(metadata.begin(), metadata.end());
    record(flow_id, *flow, std::move(point));
  } else {
    TracePoint point = PointMadeAt(point_id, success, timestamp_ms);
    point.metadata = metadata;
    traceElsewhere(flow_id, point);
  }
}

TracePointHandle FlowTrace::Point(const std::string& flow_id, const std::string& point_id) {
  TracePointHandle handle(*this, flow_id, point_id);
  detail::EngineLock lock(mutex_, "Point");
  if (lock) {
    resolve(handle);
  }
  return handle;
}

void FlowTrace::resolve(const TracePointHandle& handle) {
  // A flow found at this generation is still where it was found: flows are
  // only added, removed or replaced wholesale with a new generation.
  if (handle.generation_ != flows_generation_) {
    auto flow = flows_.find(handle.flow_id_);
    handle.flow_ = flow == flows_.end() ? nullptr : &flow->second;
    handle.generation_ = flows_generation_;
  }
}

void FlowTrace::traceHandle(const TracePointHandle& handle, bool success) {
  const int64_t timestamp_ms = detail::WallClockMs();
  detail::EngineLock lock(mutex_, "Trace");
  if (!lock) {
    return;
  }
  resolve(handle);
  if (handle.flow_ == nullptr) {
    traceElsewhere(handle.flow_id_, PointMadeAt(handle.point_id_, success, timestamp_ms));
    return;
  }
  record(handle.flow_id_, *handle.flow_,
         handle.flow_->spare.Take(handle.point_id_, success, timestamp_ms));
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
  if (FlowState* flow = findFlow(flow_id)) {
    resetRun(*flow);
  } else if (!sendRemoteRequest(flow_id, false)) {
    warnNotFound(flow_id);
  }
}

void FlowTrace::ResetAllFlows() {
  detail::EngineLock lock(mutex_, "ResetAllFlows");
  if (!lock) {
    return;
  }
  for (auto& [flow_id, flow] : flows_) {
    if (!isHeartbeat(flow_id)) {
      resetRun(flow);
    } else if (flow.cfg->check_index != 0) {
      // Its queue is kept, and so is the count of the beats in it. Stored only
      // when it changes: the heartbeat's configuration is read by others.
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
  FlowState* flow = findFlow(flow_id);
  if (flow == nullptr) {
    warnNotFound(flow_id);
    return empty_queue_;
  }
  // The reader may keep what it finds there.
  flow->points_handed_out = true;
  return flow->queue;
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
