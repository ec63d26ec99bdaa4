#include "flow_model.hpp"

#include <algorithm>

#include "kestrune_diagnostic_trace/flow_report.hpp"

namespace kestrune {
namespace monitor {

namespace {

namespace report = trace::report;
using trace::FlowCheckStatus;

// Kept of the names of flows left out by the cap, to count each once.
constexpr size_t kLeftOutNamesKept = 4096;

const std::string* FindValue(const std::vector<std::pair<std::string, std::string>>& values,
                             const std::string& key) {
  for (const auto& entry : values) {
    if (entry.first == key) {
      return &entry.second;
    }
  }
  return nullptr;
}

std::optional<uint64_t> CountValue(const std::vector<std::pair<std::string, std::string>>& values,
                                   const char* key) {
  const std::string* text = FindValue(values, key);
  return text ? report::ParseCountValue(*text) : std::nullopt;
}

PointOutcome OutcomeOfVerdict(uint8_t verdict) {
  switch (static_cast<FlowCheckStatus>(verdict)) {
    case FlowCheckStatus::SUCCESS:
      return PointOutcome::kNone;
    case FlowCheckStatus::MISSING_POINT:
      return PointOutcome::kMissing;
    default:
      return PointOutcome::kFailed;
  }
}

}  // namespace

std::string LevelWord(uint8_t level) {
  switch (level) {
    case 0:
      return "OK";
    case 1:
      return "WARN";
    case 3:
      return "STALE";
    default:
      return "ERROR";
  }
}

uint8_t LevelValue(const std::string& word) {
  for (uint8_t level = 0; level < 3; ++level) {
    if (LevelWord(level) == word) {
      return level;
    }
  }
  return word == "STALE" ? 3 : 2;
}

FlowModel::FlowModel(const trace::ParsedFlowConfig& config, ModelLimits limits, Clock clock)
    : limits_(limits), clock_(std::move(clock)) {
  const SteadyClock::time_point now = clock_();
  for (const auto& cfg : config.flows) {
    const std::string key = "1" + cfg->flow_id;
    Flow& flow = flows_[key];
    flow = Flow{};
    flow.view.flow_id = cfg->flow_id;
    flow.view.flow_name = cfg->flow_name;
    flow.view.configured = true;
    flow.view.message = "no /diagnostics update yet";
    flow.last_update = now;
    flow.flow_event_id = cfg->event_id;
    for (const auto& point : cfg->flow_points) {
      flow.view.points.push_back(PointView{point->point_id, point->is_critical, point->event_id,
                                           PointOutcome::kNone, false});
    }
    configured_[cfg->flow_id] = key;
  }
  // Nothing has reported yet: every configured flow starts STALE, as the
  // aggregator shows a status it has never heard of.
  for (auto& entry : flows_) {
    entry.second.stale = true;
    entry.second.view.level = "STALE";
    entry.second.view.version = ++version_;
  }
}

std::string FlowModel::Cut(const std::string& text) const {
  return text.size() <= limits_.text_bytes ? text : text.substr(0, limits_.text_bytes);
}

void FlowModel::Touch(Flow& flow) {
  flow.view.version = ++version_;
}

void FlowModel::Deliver(AfterLock& after) {
  if (!after.notice.empty() && notice_) {
    notice_(after.notice);
  }
  if (observer_) {
    for (const ModelRecord& record : after.records) {
      observer_(record);
    }
  }
}

FlowModel::Flow* FlowModel::FindOrLearn(const std::string& flow_id, const std::string& name,
                                        AfterLock& after) {
  const auto named = by_name_.find(name);
  if (named != by_name_.end()) {
    return &flows_.at(named->second);
  }
  // The first node reporting a configured flow claims its card; another node
  // with the same flow id gets a card of its own.
  const auto configured = configured_.find(flow_id);
  if (configured != configured_.end()) {
    Flow& flow = flows_.at(configured->second);
    if (flow.view.name.empty()) {
      by_name_[name] = configured->second;
      return &flow;
    }
  }
  // A robot's heartbeat is the last flow to hide: it tells whether the robot
  // runs at all. It has a bound of its own, so the cap still bounds memory.
  const bool heartbeat = flow_id == trace::kHeartbeatFlowId;
  size_t& learned = heartbeat && learned_ >= limits_.learned_flows ? learned_heartbeats_ : learned_;
  if (learned >= limits_.learned_flows) {
    if (left_out_names_.size() < kLeftOutNamesKept && left_out_names_.insert(name).second) {
      if (left_out_++ == 0) {
        after.notice = "more than " + std::to_string(limits_.learned_flows) +
                       " flows on /diagnostics: '" + name + "' and any later ones are left out (" +
                       kLeftOutRule + ")";
      }
      ++version_;
    }
    return nullptr;
  }
  ++learned;
  const std::string key = "2" + name;
  by_name_[name] = key;
  Flow& flow = flows_[key];
  flow.view.flow_id = flow_id;
  return &flow;
}

bool FlowModel::AddStatus(const StatusReport& status) {
  AfterLock after;
  bool kept = false;
  {
    const std::string* flow_id = FindValue(status.values, report::kFlowId);
    std::lock_guard<std::mutex> lock(mutex_);
    Flow* flow = flow_id ? FindOrLearn(Cut(*flow_id), Cut(status.name), after) : nullptr;
    if (!flow) {
      ++ignored_;
    } else {
      kept = true;
      FlowView& view = flow->view;
      view.name = Cut(status.name);
      const size_t separator = view.name.find(": ");
      view.node = separator == std::string::npos ? std::string() : view.name.substr(0, separator);
      view.hardware_id = Cut(status.hardware_id);
      view.message = Cut(status.message);
      view.values.clear();
      for (const auto& entry : status.values) {
        if (view.values.size() == limits_.values_per_status) {
          break;
        }
        view.values.emplace_back(Cut(entry.first), Cut(entry.second));
      }
      // What is kept and recorded of the status is what the card holds: bounded.
      const StatusReport kept_status{status.level, view.name, view.message, view.hardware_id,
                                     view.values};
      // Back from STALE is a level change too.
      if (!flow->has_status || flow->level != status.level || flow->stale) {
        after.records.push_back(
            {ModelRecord::Type::kLevel, view.node, view.flow_id, {}, kept_status});
      }
      flow->last_status = kept_status;
      flow->level = status.level;
      flow->has_status = true;
      flow->stale = false;
      view.level = LevelWord(status.level);
      flow->last_update = clock_();

      const std::string* state = FindValue(view.values, report::kState);
      const std::string* next = FindValue(view.values, report::kNextExpectedPoint);
      const bool waiting =
          state && (*state == report::kStateRunning || *state == report::kStateStalled);
      flow->expected_point = waiting && next && *next != report::kNone ? *next : std::string();
      MarkExpected(*flow);
      RunsFromCounters(*flow, after);
      Touch(*flow);
    }
  }
  Deliver(after);
  return kept;
}

// Flows without a configuration have no events to take runs from: the
// counters of their status tell when runs ended and how many failed.
void FlowModel::RunsFromCounters(Flow& flow, AfterLock& after) {
  const std::optional<uint64_t> checked = CountValue(flow.view.values, report::kRunsChecked);
  const std::optional<uint64_t> failed = CountValue(flow.view.values, report::kRunsFailed);
  if (flow.view.configured || !checked) {
    return;
  }
  // What ran before the monitor listened is unknown; a counter that went back
  // is a restarted node, whose counting starts again.
  if (flow.runs_checked && *checked > *flow.runs_checked) {
    const uint64_t runs = *checked - *flow.runs_checked;
    uint64_t failures =
        failed && flow.runs_failed && *failed > *flow.runs_failed ? *failed - *flow.runs_failed : 0;
    const std::string* verdict_text = FindValue(flow.view.values, report::kLastVerdict);
    const std::string verdict = verdict_text ? *verdict_text : std::string();
    const bool last_passed = report::VerdictFromName(verdict) == FlowCheckStatus::SUCCESS;
    // Only the last run's verdict and duration are known; the ones before it
    // get the outcome the failure count leaves them, oldest first.
    const uint64_t shown = std::min<uint64_t>(runs, limits_.runs_per_flow);
    uint64_t earlier_failures = failures - (last_passed || failures == 0 ? 0 : 1);
    for (uint64_t i = 1; i < shown; ++i) {
      RunView earlier;
      earlier.passed = earlier_failures == 0;
      earlier_failures -= earlier_failures == 0 ? 0 : 1;
      AddRun(flow, std::move(earlier));
    }
    RunView run;
    run.verdict = verdict;
    run.passed = last_passed;
    const std::string* duration = FindValue(flow.view.values, report::kLastRunDuration);
    run.duration_s = duration ? report::ParseSecondsValue(*duration) : std::nullopt;
    AddRun(flow, std::move(run));
    after.records.push_back(
        {ModelRecord::Type::kVerdict, flow.view.node, flow.view.flow_id, {}, flow.last_status});
  }
  flow.runs_checked = checked;
  flow.runs_failed = failed;
}

void FlowModel::AddRun(Flow& flow, RunView run) {
  flow.runs.push_back(std::move(run));
  while (flow.runs.size() > limits_.runs_per_flow) {
    flow.runs.pop_front();
  }
}

void FlowModel::MarkExpected(Flow& flow) {
  // The heartbeat always waits for its next beat: marking it would say nothing.
  if (flow.view.flow_id == trace::kHeartbeatFlowId) {
    flow.expected_point.clear();
  }
  PointView* expected = nullptr;
  for (PointView& point : flow.view.points) {
    point.expected = false;
    if (point.point_id == flow.expected_point &&
        (!expected || expected->outcome != PointOutcome::kNone)) {
      expected = &point;
    }
  }
  if (expected) {
    expected->expected = true;
  }
}

// Ids may repeat within a flow (a point visited twice under two ids is the
// usual case, one id twice the rare one): the first position not yet marked in
// this run takes the outcome, else the last one that fits. The event's point
// names the position where it can; the id alone otherwise. The flow's own id
// names no point.
void FlowModel::MarkPoint(Flow& flow, const EventReport& event, EventView& view) {
  const auto kind = static_cast<report::EventKind>(event.kind);
  PointOutcome outcome = PointOutcome::kNone;
  switch (kind) {
    case report::EventKind::kPoint:
      outcome = event.status == 0 ? PointOutcome::kOk : PointOutcome::kFailed;
      break;
    case report::EventKind::kTimeout:
      outcome = PointOutcome::kTimeout;
      break;
    case report::EventKind::kVerdict:
      outcome = OutcomeOfVerdict(event.verdict);
      break;
    default:
      break;
  }
  const bool by_name = !event.point_id.empty();
  PointView* target = nullptr;
  for (PointView& point : flow.view.points) {
    const bool fits = by_name ? point.point_id == event.point_id
                              : point.event_id == event.id && event.id != flow.flow_event_id;
    if (fits && (!target || target->outcome != PointOutcome::kNone)) {
      target = &point;
    }
  }
  view.point_id = by_name ? event.point_id : target ? target->point_id : std::string();
  // The ok a late repeat sends right after its timeout keeps the timeout shown.
  const bool keeps_timeout =
      target && target->outcome == PointOutcome::kTimeout && outcome == PointOutcome::kOk;
  if (target && outcome != PointOutcome::kNone && !keeps_timeout) {
    target->outcome = outcome;
  }
}

bool FlowModel::AddEvent(const EventReport& event) {
  AfterLock after;
  bool kept = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto configured = configured_.find(event.source_id);
    if (configured == configured_.end()) {
      ++ignored_;
    } else {
      kept = true;
      Flow& flow = flows_.at(configured->second);
      const auto kind = static_cast<report::EventKind>(event.kind);
      const bool verdict = kind == report::EventKind::kVerdict;
      // The next run begins with the first point after a verdict; a stall is
      // not the end of a run, it goes on when the next point comes.
      if (flow.run_closed && !verdict && kind != report::EventKind::kOverBudget) {
        for (PointView& point : flow.view.points) {
          point.outcome = PointOutcome::kNone;
        }
        flow.run_closed = false;
      }
      EventView view{event.stamp_sec, event.stamp_nanosec, event.id, event.status,  event.kind,
                     event.verdict,   event.duration_ms,   {},       Cut(event.msg)};
      MarkPoint(flow, event, view);
      view.point_id = Cut(view.point_id);
      flow.events.push_back(std::move(view));
      while (flow.events.size() > limits_.events_per_flow) {
        flow.events.pop_front();
      }
      if (verdict) {
        RunView run;
        run.passed = static_cast<FlowCheckStatus>(event.verdict) == FlowCheckStatus::SUCCESS;
        run.verdict = report::VerdictName(event.verdict);
        run.duration_s = static_cast<double>(event.duration_ms) / 1000.0;
        AddRun(flow, std::move(run));
        flow.run_closed = true;
        flow.expected_point.clear();
      }
      MarkExpected(flow);
      Touch(flow);
      EventReport kept_event = event;
      kept_event.msg = Cut(event.msg);
      kept_event.point_id = Cut(event.point_id);
      after.records.push_back(
          {ModelRecord::Type::kEvent, flow.view.node, flow.view.flow_id, kept_event, {}});
    }
  }
  Deliver(after);
  return kept;
}

void FlowModel::ApplyStaleLocked(AfterLock& after) {
  const SteadyClock::time_point now = clock_();
  for (auto& entry : flows_) {
    Flow& flow = entry.second;
    const bool stale = now - flow.last_update >= limits_.stale_after || !flow.has_status;
    if (stale != flow.stale) {
      flow.stale = stale;
      flow.view.level = stale ? "STALE" : LevelWord(flow.level);
      Touch(flow);
      if (stale && flow.has_status) {
        after.records.push_back(
            {ModelRecord::Type::kStale, flow.view.node, flow.view.flow_id, {}, flow.last_status});
      }
    }
  }
}

void FlowModel::ApplyStale() {
  AfterLock after;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ApplyStaleLocked(after);
  }
  Deliver(after);
}

std::pair<std::vector<FlowView>, uint64_t> FlowModel::Changes(uint64_t since) {
  AfterLock after;
  std::unique_lock<std::mutex> lock(mutex_);
  ApplyStaleLocked(after);
  const SteadyClock::time_point now = clock_();
  std::vector<FlowView> views;
  for (const auto& entry : flows_) {
    const Flow& flow = entry.second;
    if (flow.view.version <= since) {
      continue;
    }
    views.push_back(flow.view);
    FlowView& view = views.back();
    view.events.assign(flow.events.begin(), flow.events.end());
    view.runs.assign(flow.runs.begin(), flow.runs.end());
    if (flow.has_status) {
      view.age_s = std::chrono::duration<double>(now - flow.last_update).count();
    }
  }
  const uint64_t version = version_;
  lock.unlock();
  Deliver(after);
  return {std::move(views), version};
}

ModelSummary FlowModel::Summary() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {left_out_, left_out_ == 0 ? std::string() : std::string(kLeftOutRule), version_};
}

size_t FlowModel::FlowCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return flows_.size();
}

uint64_t FlowModel::Ignored() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ignored_;
}

}  // namespace monitor
}  // namespace kestrune
