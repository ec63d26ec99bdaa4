#include "kestrune_diagnostic_trace/flow_trace.hpp"

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

#include <rclcpp/clock.hpp>

#include "engine_lock.hpp"
#include "flow_config_reader.hpp"
#include "flow_health.hpp"
#include "health_reporter.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "kestrune_diagnostic_trace/flow_report.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"
#include "lock_holds.hpp"
#include "periodic_thread.hpp"
#include "publication.hpp"
#include "wall_clock.hpp"

namespace kestrune {
namespace trace {

namespace {

/// What Init loads anyway but the tools refuse or report as errors: Init only warns.
bool InitWarnsOnly(FindingCode code) {
  return code == FindingCode::kTooLarge || code == FindingCode::kNotUtf8 ||
         code == FindingCode::kSeveralDocuments || code == FindingCode::kDuplicateKey ||
         code == FindingCode::kMergeKey;
}

/// Init loads what it always loaded: a file over the tools' limit too.
ParsedFlowConfig ReadAndParse(const std::string& path) {
  FlowConfigText file = ReadFlowConfigFile(path, std::numeric_limits<size_t>::max());
  if (file.error) {
    KLOG_ERROR("Failed to parse flow configuration file: {}", file.error->message);
    ParsedFlowConfig refused;
    refused.findings.push_back(std::move(*file.error));
    return refused;
  }
  ParsedFlowConfig parsed = detail::ParseFlowConfigLogged(file.text);
  if (file.text.size() > kMaxFlowConfigBytes) {
    parsed.findings.insert(
        parsed.findings.begin(),
        ConfigFinding{FindingSeverity::kWarning, FindingCode::kTooLarge, 0, 0, "",
                      fmt::format("flow file '{}' is larger than {} bytes: Init loads it, the "
                                  "tools refuse it",
                                  path, kMaxFlowConfigBytes)});
  }
  for (const ConfigFinding& finding : parsed.findings) {
    if (InitWarnsOnly(finding.code)) {
      KLOG_WARN("Flow configuration file '{}', line {}, column {}: {}", path, finding.line,
                finding.column, finding.message);
    }
  }
  return parsed;
}

/// The steps between consecutive configured points, each measured apart.
size_t StepsOf(const TraceFlowCfg& flow) {
  return flow.flow_points.empty() ? 0 : flow.flow_points.size() - 1;
}

/// The configured points' ids into `ids`, reusing its strings' buffers.
void CopyPointIds(const TraceFlowCfg& flow, std::vector<std::string>& ids) {
  ids.resize(flow.flow_points.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    ids[i] = flow.flow_points[i]->point_id;
  }
}

/// Flows copied for the health report in one hold of the engine mutex: each
/// costs a few cache misses, up to a few microseconds on a busy machine, so
/// that a slice stays well under 100 µs.
constexpr size_t kSnapshotSlice = 16;
/// Walks of the flow table started again, because flows came or went
/// between two slices, before the rest is taken in one hold.
constexpr size_t kSnapshotRestarts = 3;

}  // namespace

FlowTrace* FlowTrace::GetInstance() {
  static FlowTrace instance;
  return &instance;
}

FlowTrace::FlowTrace()
    : publication_(std::make_unique<detail::Publication>()),
      heartbeat_(std::make_unique<detail::PeriodicThread>(kHeartbeatFlowId, [this] { beat(); })),
      health_(std::make_unique<detail::HealthReporter>(
          [this](std::vector<detail::FlowSnapshot>& snapshots) { snapshotFlows(snapshots); },
          [this](const std::string& flow_id, detail::ArrivalMark mark) {
            return reportStall(flow_id, mark);
          })) {
  // The logger completes construction first, so it is destroyed after the
  // engine: the heartbeat thread can log until the engine has stopped it.
  Logger::Instance("spdlog");
}

FlowTrace::~FlowTrace() {
  // Their threads read and trace into the tables below: they go first.
  health_.reset();
  heartbeat_.reset();
}

void FlowTrace::beat() {
  try {
    // Trace("heartbeat", "heartbeat", true), with the time it holds the engine noted.
    const int64_t timestamp_ms = detail::WallClockMs();
    detail::EngineLock lock(mutex_, "Trace");
    if (lock) {
      const detail::HoldTimer timer(detail::HeartbeatHolds());
      traceLocked(kHeartbeatFlowId, kHeartbeatFlowId, true, timestamp_ms);
    }
  } catch (const std::exception& e) {
    // A publisher or publish callback that throws would otherwise end the
    // process from the heartbeat thread; the beats go on, only this event is lost.
    KLOG_ERROR("Heartbeat trace failed: {}", e.what());
  } catch (...) {
    KLOG_ERROR("Heartbeat trace failed: unknown exception");
  }
  KLOG_INFO("heartbeat...");
}

void FlowTrace::Init(const std::string& config_path, std::shared_ptr<rclcpp::Node> node) {
  load(config_path, std::move(node), nullptr);
}

void FlowTrace::Init(const std::string& config_path, PublishCallback& publish_callback) {
  load(config_path, std::shared_ptr<rclcpp::Node>(), &publish_callback);
}

std::vector<ConfigFinding> FlowTrace::InitChecked(const std::string& config_path,
                                                  std::shared_ptr<rclcpp::Node> node) {
  return load(config_path, std::move(node), nullptr);
}

std::vector<ConfigFinding> FlowTrace::InitChecked(const std::string& config_path,
                                                  PublishCallback& publish_callback) {
  return load(config_path, std::shared_ptr<rclcpp::Node>(), &publish_callback);
}

std::vector<ConfigFinding> FlowTrace::load(const std::string& config_path,
                                           std::shared_ptr<rclcpp::Node> node,
                                           const PublishCallback* publish_callback) {
  if (detail::EngineLock::HeldByThisThread()) {
    detail::EngineLock::ReportReentry("Init");
    return {};
  }
  ParsedFlowConfig parsed = ReadAndParse(config_path);

  // Publishers are made before the lock is taken: creating one calls into ROS 2.
  std::exception_ptr refused;
  RemoteFlows remote = takeRemoteFlows(parsed, node.get(), refused);
  detail::PublisherTable publishers;
  detail::HealthReporter::Settings health;
  health.diagnostics = parsed.diagnostics;
  if (node) {
    health.node_name = detail::ReportingName(*node);
    if (parsed.diagnostics.enabled) {
      health.publisher = detail::CreateDiagnosticsPublisher(*node);
    }
    for (auto flow = parsed.flows.begin(); flow != parsed.flows.end(); ++flow) {
      try {
        detail::AttachPublisher(*node, **flow, publishers);
      } catch (...) {
        // A topic ROS 2 refuses ends the file there: the flows before it load.
        refused = std::current_exception();
        parsed.flows.erase(flow, parsed.flows.end());
        break;
      }
    }
  }
  std::unordered_map<std::string, FlowState> flows;
  for (auto& flow : parsed.flows) {
    health.watch_stalls = health.watch_stalls || flow->stall_ms != 0;
    // A later flow of the same id replaces an earlier one, and all it had.
    const std::string flow_id = flow->flow_id;
    flows.erase(flow_id);
    FlowState& state = flows[flow_id];
    state.cfg = std::move(flow);
    state.window = detail::RunWindow(parsed.diagnostics.stats_window);
  }
  const bool has_heartbeat = flows.count(kHeartbeatFlowId) != 0;

  {
    // One swap: no thread sees a half-loaded engine. The old tables go after
    // the lock is released.
    detail::EngineLock lock(mutex_, "Init");
    node_ = std::move(node);
    if (publish_callback != nullptr) {
      publication_->SetCallback(*publish_callback);
    }
    // Statistics stay with a flow loaded again under its id, resized to the new window.
    stats_window_ = parsed.diagnostics.stats_window;
    for (auto& [flow_id, flow] : flows) {
      auto old = flows_.find(flow_id);
      if (old != flows_.end()) {
        flow.window = std::move(old->second.window);
      }
      flow.window.Resize(stats_window_);
      flow.window.SetSteps(StepsOf(*flow.cfg));
    }
    flows_.swap(flows);
    ++flows_generation_;
    publishers_.swap(publishers);
    remote_flows_.swap(remote.flows);
    remote_sender_.swap(remote.sender);
  }
  health.heartbeat_period_ms = has_heartbeat ? parsed.heartbeat_period_ms : heartbeat_->period();
  health_->Configure(std::move(health));
  if (refused) {
    std::rethrow_exception(refused);
  }
  if (has_heartbeat) {
    heartbeat_->SetPeriod(parsed.heartbeat_period_ms);
    KLOG_INFO("heartbeat duration: {}, heartbeat run: {}", heartbeat_->period(),
              heartbeat_->running());
    heartbeat_->Start();
  }
  return std::move(parsed.findings);
}

void FlowTrace::RegisterTraceFlow(std::shared_ptr<TraceFlowCfg> flow_cfg) {
  if (!flow_cfg || flow_cfg->flow_id.empty()) {
    KLOG_ERROR("Invalid flow configuration: flow_id is empty");
    return;
  }
  const std::string flow_id = flow_cfg->flow_id;
  const std::string flow_name = flow_cfg->flow_name;
  const size_t points_count = flow_cfg->flow_points.size();
  const bool watch_stalls = flow_cfg->stall_ms != 0;
  {
    detail::EngineLock lock(mutex_, "RegisterTraceFlow");
    if (!lock) {
      return;
    }
    auto [flow, added] = flows_.try_emplace(flow_id);
    if (added) {
      ++flows_generation_;
    } else {
      KLOG_WARN("Flow with ID '{}' already registered, overwriting", flow_id);
      // In place, so handles keep finding it; nothing of the old flow stays.
      flow->second = FlowState();
    }
    flow->second.cfg = std::move(flow_cfg);
    flow->second.window = detail::RunWindow(stats_window_);
    flow->second.window.SetSteps(StepsOf(*flow->second.cfg));
  }
  if (watch_stalls) {
    health_->WatchStalls();
  }
  KLOG_INFO("Registered trace flow: flow_id={}, flow_name={}, points_count={}", flow_id, flow_name,
            points_count);
}

void FlowTrace::RegisterTraceFlow(const std::string& flow_id,
                                  std::vector<std::shared_ptr<TracePointCfg>>& points,
                                  const std::string& flow_name, const std::string& description,
                                  bool check_order) {
  if (flow_id.empty()) {
    KLOG_ERROR("Invalid flow_id: cannot be empty");
    return;
  }
  auto flow_cfg = std::make_shared<TraceFlowCfg>();
  flow_cfg->flow_id = flow_id;
  flow_cfg->flow_name = flow_name;
  flow_cfg->description = description;
  flow_cfg->check_order = check_order;
  flow_cfg->flow_points.assign(points.begin(), points.end());
  RegisterTraceFlow(std::move(flow_cfg));
}

void FlowTrace::RemoveTraceFlow(const std::string& flow_id) {
  if (flow_id.empty()) {
    KLOG_ERROR("Invalid flow_id: cannot be empty");
    return;
  }
  detail::EngineLock lock(mutex_, "RemoveTraceFlow");
  if (!lock) {
    return;
  }
  if (flows_.erase(flow_id) + remote_flows_.erase(flow_id) != 0) {
    ++flows_generation_;
    KLOG_INFO("Removed flow queue for flow_id: {}", flow_id);
    KLOG_INFO("Removed flow configuration for flow_id: {}", flow_id);
  } else {
    KLOG_WARN("Flow queue not found for flow_id: {}", flow_id);
    KLOG_WARN("Flow configuration not found for flow_id: {}", flow_id);
  }
}

void FlowTrace::RegisterFlowHandler(const std::string& flow_id, FlowHandler handler) {
  if (flow_id.empty()) {
    KLOG_ERROR("Invalid flow_id: cannot be empty");
    return;
  }
  detail::EngineLock lock(mutex_, "RegisterFlowHandler");
  if (!lock) {
    return;
  }
  if (flow_handlers_.count(flow_id) != 0) {
    KLOG_WARN("Handler for flow_id '{}' already exists, overwriting", flow_id);
  }
  flow_handlers_[flow_id] = std::move(handler);
  KLOG_INFO("Successfully registered handler for flow_id: {}", flow_id);
}

std::set<std::string> FlowTrace::GetTraceFlows() {
  std::set<std::string> flow_ids;
  detail::EngineLock lock(mutex_, "GetTraceFlows");
  if (!lock) {
    return flow_ids;
  }
  for (const auto& flow : flows_) {
    flow_ids.insert(flow.first);
  }
  for (const auto& flow : remote_flows_) {
    flow_ids.insert(flow.first);
  }
  return flow_ids;
}

std::shared_ptr<TraceFlowCfg> FlowTrace::GetTraceFlowCfg(const std::string& flow_id) {
  detail::EngineLock lock(mutex_, "GetTraceFlowCfg");
  if (!lock) {
    return nullptr;
  }
  auto flow = flows_.find(flow_id);
  if (flow != flows_.end()) {
    return flow->second.cfg;
  }
  auto remote = remote_flows_.find(flow_id);
  return remote == remote_flows_.end() ? nullptr : remote->second;
}

void FlowTrace::snapshotFlows(std::vector<detail::FlowSnapshot>& snapshots) {
  // Taken a few buckets of the table at a time, each slice under the lock on
  // its own, so that with thousands of flows no slice holds up a Trace for
  // long. A flow added or removed between two slices starts the walk again;
  // after a few such starts the rest is taken at once.
  size_t flows = 0;
  {
    detail::EngineLock lock(mutex_, "diagnostics");
    if (!lock) {
      snapshots.clear();
      return;
    }
    flows = flows_.size();
  }
  // Made before the slices: growing the vector under the lock would move every entry.
  if (snapshots.size() < flows) {
    snapshots.resize(flows);
  }
  size_t taken = 0;
  size_t bucket = 0;
  size_t restarts = 0;
  uint64_t generation = 0;
  for (bool done = false; !done;) {
    detail::EngineLock lock(mutex_, "diagnostics");
    if (!lock) {
      snapshots.clear();
      return;
    }
    const detail::HoldTimer timer(detail::DiagnosticsHolds());
    if (bucket != 0 && generation != flows_generation_) {
      ++restarts;
      bucket = 0;
      taken = 0;
    }
    generation = flows_generation_;
    const size_t slice =
        restarts < kSnapshotRestarts ? kSnapshotSlice : std::numeric_limits<size_t>::max();
    const size_t buckets = flows_.bucket_count();
    for (size_t in_slice = 0; bucket < buckets && in_slice < slice; ++bucket) {
      for (auto flow = flows_.begin(bucket); flow != flows_.end(bucket); ++flow, ++in_slice) {
        if (taken == snapshots.size()) {
          snapshots.emplace_back();
        }
        snapshotInto(snapshots[taken++], flow->first, flow->second);
      }
    }
    done = bucket == buckets;
  }
  snapshots.resize(taken);
  // Sorted outside the lock: the statuses come in the same order every time.
  std::sort(snapshots.begin(), snapshots.end(),
            [](const auto& a, const auto& b) { return a.flow_id < b.flow_id; });
}

// Assigned field by field: a reused snapshot keeps its strings' buffers.
void FlowTrace::snapshotInto(detail::FlowSnapshot& snapshot, const std::string& flow_id,
                             const FlowState& flow) {
  const TraceFlowCfg& cfg = *flow.cfg;
  const auto& points = cfg.flow_points;
  snapshot.flow_id = flow_id;
  snapshot.heartbeat = flow_id == kHeartbeatFlowId;
  snapshot.event_id = cfg.event_id;
  snapshot.stall_ms = cfg.stall_ms;
  snapshot.configured_points = points.size();
  snapshot.run_points = flow.queue.size();
  snapshot.last_point.clear();
  if (!flow.queue.empty()) {
    snapshot.last_point = flow.queue.back()->point_id;
  }
  snapshot.next_point.clear();
  if (cfg.check_order) {
    if (cfg.check_index < points.size()) {
      snapshot.next_point = points[cfg.check_index]->point_id;
    }
    snapshot.run_complete = !flow.queue.empty() && cfg.check_index >= points.size();
  } else {
    // An unordered run is done when its last configured point has come.
    snapshot.run_complete =
        !flow.queue.empty() && !points.empty() && snapshot.last_point == points.back()->point_id;
  }
  snapshot.facts = flow.facts;
  snapshot.budget_ms = cfg.budget_ms;
  snapshot.drift_pct = cfg.drift_pct;
  // The numbers only, into the buffers a reused snapshot has: sorted outside the lock.
  if (flow.window.count() != 0) {
    snapshot.window = flow.window;
    CopyPointIds(cfg, snapshot.point_ids);
  } else {
    snapshot.window.reset();
    snapshot.point_ids.clear();
  }
}

std::optional<FlowStatistics> FlowTrace::GetFlowStatistics(const std::string& flow_id) {
  std::optional<detail::RunWindow> window;
  uint32_t budget_ms = 0;
  std::vector<std::string> point_ids;
  {
    detail::EngineLock lock(mutex_, "GetFlowStatistics");
    if (!lock) {
      return std::nullopt;
    }
    auto flow = flows_.find(flow_id);
    if (flow == flows_.end()) {
      return std::nullopt;
    }
    window = flow->second.window;
    budget_ms = flow->second.cfg->budget_ms;
    CopyPointIds(*flow->second.cfg, point_ids);
  }
  return window->Summarise(budget_ms, point_ids);
}

std::optional<detail::FlowSnapshot> FlowTrace::reportStall(const std::string& flow_id,
                                                           detail::ArrivalMark mark) {
  detail::EngineLock lock(mutex_, "diagnostics");
  if (!lock) {
    return std::nullopt;
  }
  const detail::HoldTimer timer(detail::DiagnosticsHolds());
  auto flow = flows_.find(flow_id);
  if (flow == flows_.end() || flow->second.queue.empty() ||
      mark != detail::ArrivalMark{flow->second.facts.runs, flow->second.queue.size()}) {
    return std::nullopt;
  }
  const TraceFlowCfg& cfg = *flow->second.cfg;
  const std::string last_point = flow->second.queue.back()->point_id;
  DiagnosticEvent event;
  event.stamp = publication_->Stamp();
  event.source_id = flow_id;
  event.id = static_cast<int32_t>(cfg.event_id);
  event.status = 1;
  event.kind = DiagnosticEvent::KIND_STALL;
  event.point_id = last_point;
  event.msg = "Status Failed, flow stalled: " + flow_id + " after " + last_point;
  flow->second.facts.NoteFailure(last_point, report::kReasonStalled);
  flow->second.facts.last_event = event.msg;
  KLOG_WARN("Flow '{}' stalled: no point for {} ms after '{}'", flow_id, cfg.stall_ms, last_point);
  try {
    publication_->Send(cfg, event);
    KLOG_INFO("ROS2 topic pub: '{}'", event.msg);
  } catch (const std::exception& e) {
    // The stall stands and is reported once: a publisher that throws must not
    // make every tick send it again.
    KLOG_ERROR("Stall event of flow '{}' not published: {}", flow_id, e.what());
  }
  if (cfg.check_at_end) {
    // The stall ends the run, as its last point would have: the check judges what came.
    try {
      endRun(flow_id, flow->second);
    } catch (const std::exception& e) {
      KLOG_ERROR("Verdict of stalled flow '{}' not published: {}", flow_id, e.what());
    }
  }
  detail::FlowSnapshot snapshot;
  snapshotInto(snapshot, flow_id, flow->second);
  return snapshot;
}

}  // namespace trace
}  // namespace kestrune
