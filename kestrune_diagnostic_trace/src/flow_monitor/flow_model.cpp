#include "flow_model.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace kestrune {
namespace monitor {

namespace {

constexpr char kFlowIdKey[] = "flow id";
constexpr char kRunsCheckedKey[] = "runs checked";
constexpr char kLastVerdictKey[] = "last verdict";
constexpr char kLastDurationKey[] = "last run duration";
constexpr char kSucceedPrefix[] = "Succeed flow: ";
constexpr char kStalledPrefix[] = "Status Failed, flow stalled: ";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

const std::string* FindValue(const std::vector<std::pair<std::string, std::string>>& values,
                             const std::string& key) {
  for (const auto& entry : values) {
    if (entry.first == key) {
      return &entry.second;
    }
  }
  return nullptr;
}

std::optional<uint64_t> ParseCount(const std::string& text) {
  if (text.empty() || text.size() > 19 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoull(text);
}

// "1.20 s" -> 1.2; anything else -> none.
std::optional<double> ParseSeconds(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double seconds = std::strtod(begin, &end);
  if (end == begin || std::string(end) != " s" || !(seconds >= 0.0)) {
    return std::nullopt;
  }
  return seconds;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

double StampSeconds(const EventReport& event) {
  return event.stamp_sec + event.stamp_nanosec * 1e-9;
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

FlowModel::FlowModel(const trace::ParsedFlowConfig& config, ModelLimits limits, Clock clock)
    : limits_(limits), clock_(std::move(clock)) {
  const SteadyClock::time_point now = clock_();
  for (const auto& cfg : config.flows) {
    const std::string key = "1" + cfg->flow_id;
    Flow& flow = flows_[key];
    flow = Flow{};
    flow.view.flow_id = cfg->flow_id;
    flow.view.configured = true;
    flow.view.message = "no /diagnostics update yet";
    flow.last_update = now;
    flow.flow_event_id = cfg->event_id;
    for (const auto& point : cfg->flow_points) {
      flow.view.points.push_back(
          PointView{point->point_id, point->is_critical, point->event_id, PointOutcome::kNone});
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
  changed_.notify_all();
}

FlowModel::Flow* FlowModel::FindOrLearn(const std::string& flow_id, const std::string& name) {
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
  if (learned_ >= limits_.learned_flows) {
    return nullptr;
  }
  ++learned_;
  const std::string key = "2" + name;
  by_name_[name] = key;
  Flow& flow = flows_[key];
  flow.view.flow_id = flow_id;
  return &flow;
}

bool FlowModel::AddStatus(const StatusReport& status) {
  const std::string* flow_id = FindValue(status.values, kFlowIdKey);
  std::lock_guard<std::mutex> lock(mutex_);
  Flow* flow = flow_id ? FindOrLearn(Cut(*flow_id), Cut(status.name)) : nullptr;
  if (!flow) {
    ++ignored_;
    return false;
  }
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
  flow->level = status.level;
  flow->has_status = true;
  flow->stale = false;
  view.level = LevelWord(status.level);
  flow->last_update = clock_();

  // Flows without a configuration have no events to find runs in: the counters
  // of the status tell when one ended.
  const std::string* checked = FindValue(view.values, kRunsCheckedKey);
  const std::optional<uint64_t> runs_checked = checked ? ParseCount(*checked) : std::nullopt;
  if (!view.configured && runs_checked) {
    if (flow->runs_checked && *runs_checked > *flow->runs_checked) {
      const std::string* verdict = FindValue(view.values, kLastVerdictKey);
      const std::string* duration = FindValue(view.values, kLastDurationKey);
      RunView run;
      run.verdict = verdict ? *verdict : std::string();
      const std::string word = Lower(run.verdict);
      run.passed = StartsWith(word, "pass") || StartsWith(word, "succe");
      run.duration_s = duration ? ParseSeconds(*duration) : std::nullopt;
      flow->runs.push_back(std::move(run));
      while (flow->runs.size() > limits_.runs_per_flow) {
        flow->runs.pop_front();
      }
    }
    flow->runs_checked = runs_checked;
  }
  Touch(*flow);
  return true;
}

bool FlowModel::AddEvent(const EventReport& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto configured = configured_.find(event.source_id);
  if (configured == configured_.end()) {
    ++ignored_;
    return false;
  }
  Flow& flow = flows_.at(configured->second);
  std::vector<PointView>& points = flow.view.points;

  const bool passed = StartsWith(event.msg, kSucceedPrefix);
  const bool verdict = passed || StartsWith(event.msg, kStalledPrefix) ||
                       EndsWith(event.msg, " in flow " + event.source_id);
  if (flow.run_closed) {
    for (PointView& point : points) {
      point.outcome = PointOutcome::kNone;
    }
    flow.run_closed = false;
    flow.run_start.reset();
  }
  if (!flow.run_start) {
    flow.run_start = StampSeconds(event);
  }

  // Ids may repeat within a flow (a point visited twice under two ids is the
  // usual case, one id twice the rare one): the first position not yet marked
  // in this run takes the outcome, else the last one with the id.
  EventView view{event.stamp_sec, event.stamp_nanosec, event.id, event.status, {}, Cut(event.msg)};
  PointView* target = nullptr;
  for (PointView& point : points) {
    if (point.event_id == event.id && (!target || target->outcome != PointOutcome::kNone)) {
      target = &point;
    }
  }
  if (target && event.id != flow.flow_event_id) {
    target->outcome = event.status == 0 ? PointOutcome::kOk : PointOutcome::kFailed;
    view.point_id = target->point_id;
  }
  flow.events.push_back(std::move(view));
  while (flow.events.size() > limits_.events_per_flow) {
    flow.events.pop_front();
  }

  if (verdict) {
    RunView run;
    run.passed = passed;
    run.verdict = passed ? "passed" : "failed";
    run.duration_s = std::max(0.0, StampSeconds(event) - *flow.run_start);
    flow.runs.push_back(std::move(run));
    while (flow.runs.size() > limits_.runs_per_flow) {
      flow.runs.pop_front();
    }
    flow.run_closed = true;
  }
  Touch(flow);
  return true;
}

void FlowModel::ApplyStaleLocked() {
  const SteadyClock::time_point now = clock_();
  for (auto& entry : flows_) {
    Flow& flow = entry.second;
    const bool stale = now - flow.last_update >= limits_.stale_after || !flow.has_status;
    if (stale != flow.stale) {
      flow.stale = stale;
      flow.view.level = stale ? "STALE" : LevelWord(flow.level);
      Touch(flow);
    }
  }
}

std::pair<std::vector<FlowView>, uint64_t> FlowModel::Changes(uint64_t since) {
  std::lock_guard<std::mutex> lock(mutex_);
  ApplyStaleLocked();
  std::vector<FlowView> views;
  for (const auto& entry : flows_) {
    const Flow& flow = entry.second;
    if (flow.view.version <= since) {
      continue;
    }
    views.push_back(flow.view);
    views.back().events.assign(flow.events.begin(), flow.events.end());
    views.back().runs.assign(flow.runs.begin(), flow.runs.end());
  }
  return {std::move(views), version_};
}

uint64_t FlowModel::WaitForChange(uint64_t since, SteadyClock::time_point deadline,
                                  const std::function<bool()>& stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  ApplyStaleLocked();
  changed_.wait_until(lock, deadline, [&] { return version_ > since || stop(); });
  return version_;
}

void FlowModel::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  changed_.notify_all();
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
