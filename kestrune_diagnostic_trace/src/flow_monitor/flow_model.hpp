#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__FLOW_MODEL_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__FLOW_MODEL_HPP_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kestrune_diagnostic_trace/flow_config.hpp"

namespace kestrune {
namespace monitor {

using SteadyClock = std::chrono::steady_clock;

/// One DiagnosticStatus as received, free of any message type.
struct StatusReport {
  uint8_t level{0};
  std::string name;
  std::string message;
  std::string hardware_id;
  std::vector<std::pair<std::string, std::string>> values;
};

/// One DiagnosticEvent as received.
struct EventReport {
  int32_t stamp_sec{0};
  uint32_t stamp_nanosec{0};
  std::string source_id;
  uint32_t id{0};
  uint8_t status{0};
  std::string msg;
  /// The event's kind (trace::report::EventKind) and its typed fields.
  uint8_t kind{0};
  uint8_t verdict{0};
  std::string point_id;
  uint64_t duration_ms{0};
};

/// Outcome of a configured point in the current run: its last event's, or
/// the verdict's when the verdict names it.
enum class PointOutcome { kNone, kOk, kTimeout, kFailed, kMissing };

struct PointView {
  std::string point_id;
  bool critical{false};
  uint32_t event_id{0};
  PointOutcome outcome{PointOutcome::kNone};
  /// The point a running or stalled run waits for.
  bool expected{false};
};

struct EventView {
  int32_t stamp_sec{0};
  uint32_t stamp_nanosec{0};
  uint32_t id{0};
  uint8_t status{0};
  uint8_t kind{0};
  /// The FlowCheckStatus of a verdict.
  uint8_t verdict{0};
  uint64_t duration_ms{0};
  /// The point the event names, else the one its id maps to in the flow's
  /// configuration; empty when neither does.
  std::string point_id;
  std::string msg;
};

struct RunView {
  bool passed{false};
  /// Seconds; absent when the source gave none.
  std::optional<double> duration_s;
  /// The verdict's name ("SUCCESS", "MISSING_POINT"); empty when unknown.
  std::string verdict;
};

/// Everything the page shows of one flow, copied out of the model.
struct FlowView {
  std::string flow_id;
  std::string node;
  std::string name;
  /// The configured flow_name; empty for a flow only known from /diagnostics.
  std::string flow_name;
  std::string hardware_id;
  /// OK, WARN, ERROR or STALE.
  std::string level;
  std::string message;
  std::vector<std::pair<std::string, std::string>> values;
  bool configured{false};
  std::vector<PointView> points;
  std::vector<EventView> events;
  std::vector<RunView> runs;
  /// Seconds since the last /diagnostics update, when the view was taken;
  /// absent when none came.
  std::optional<double> age_s;
  /// Model version of the last change to this flow.
  uint64_t version{0};
};

/// What the model was told that is worth keeping: every event, every level
/// change (a flow going STALE included) and every verdict read from the
/// counters on /diagnostics. Handed to the model's observer in the order the
/// model took them.
struct ModelRecord {
  /// kStale: no update came for the STALE time; `status` is the last one.
  enum class Type { kEvent, kLevel, kVerdict, kStale };
  Type type{Type::kEvent};
  /// The node of the flow's card; empty when no status came yet.
  std::string node;
  std::string flow_id;
  /// For kEvent, its texts bounded as the card's are.
  EventReport event;
  /// For kLevel, kVerdict and kStale: the status as the card holds it (texts
  /// and values bounded), so that a replay can feed it back.
  StatusReport status;
};

/// What the model's cards are changed by, besides the flows themselves.
struct ModelSummary {
  /// Flows left out by the cap on learned flows, and the rule that chose them.
  uint64_t left_out{0};
  std::string left_out_rule;
  uint64_t version{0};
};

struct ModelLimits {
  /// Events kept per flow.
  size_t events_per_flow{50};
  /// Runs kept per flow.
  size_t runs_per_flow{30};
  /// Flows learned from /diagnostics beyond the configured ones; more are
  /// left out, first come first kept. Heartbeat flows are kept beyond it, up
  /// to as many again.
  size_t learned_flows{500};
  /// Key/value pairs kept per status.
  size_t values_per_status{64};
  /// Bytes kept of any text; longer texts are cut.
  size_t text_bytes{1024};
  /// A flow without a /diagnostics update for this long is STALE.
  SteadyClock::duration stale_after{std::chrono::seconds(5)};
};

/// The monitor's state: one entry per flow, fed from /diagnostics and from
/// the flows' event topics, read by the HTTP side.
///
/// Thread-safe: every member function takes the one internal mutex; views are
/// copies, so nothing refers into the model after a call returns. Memory is
/// bounded by ModelLimits however long it is fed.
class FlowModel {
 public:
  using Clock = std::function<SteadyClock::time_point()>;
  /// Called outside the model's mutex, in the thread that fed the model.
  using Observer = std::function<void(const ModelRecord&)>;
  /// Told once, when the cap first leaves a flow out; outside the mutex.
  using Notice = std::function<void(const std::string&)>;

  /// `clock` gives the time the STALE rule measures; tests and replays inject their own.
  explicit FlowModel(const trace::ParsedFlowConfig& config, ModelLimits limits = {},
                     Clock clock = SteadyClock::now);

  /// Which flows the cap leaves out, as the page and the notice say it.
  static constexpr const char* kLeftOutRule =
      "first come, first kept; configured and heartbeat flows are always kept";

  /// Set before feeding the model; not thread-safe against Add*.
  void SetObserver(Observer observer) { observer_ = std::move(observer); }
  void SetNotice(Notice notice) { notice_ = std::move(notice); }

  FlowModel(const FlowModel&) = delete;
  FlowModel& operator=(const FlowModel&) = delete;

  /// Takes one status; statuses without a "flow id" value are not flows and are
  /// ignored. Returns whether it was kept.
  bool AddStatus(const StatusReport& status);

  /// Takes one event of a configured flow; events of flows not in the
  /// configuration are ignored. Returns whether it was kept.
  bool AddEvent(const EventReport& event);

  /// Flows changed since `since` (all with 0), in order of their key, and the
  /// version to pass next time. Applies the STALE rule first.
  std::pair<std::vector<FlowView>, uint64_t> Changes(uint64_t since);

  /// The cap's count and rule, and the current version.
  ModelSummary Summary() const;

  /// Applies the STALE rule, as Changes does, for a model no page reads.
  void ApplyStale();

  size_t FlowCount() const;
  /// Statuses and events ignored so far (no flow id, unknown flow, too many flows).
  uint64_t Ignored() const;

 private:
  struct Flow {
    FlowView view;
    uint8_t level{0};
    bool has_status{false};
    bool stale{false};
    SteadyClock::time_point last_update;
    uint32_t flow_event_id{0};
    /// A verdict closed the run; the next point event starts a new one.
    bool run_closed{false};
    /// The point the last status said the run waits for; empty when idle.
    std::string expected_point;
    std::optional<uint64_t> runs_checked;
    std::optional<uint64_t> runs_failed;
    std::deque<EventView> events;
    std::deque<RunView> runs;
    /// The last status, for the record of the flow going STALE.
    StatusReport last_status;
  };

  /// What one Add* leaves to do once the mutex is released.
  struct AfterLock {
    std::vector<ModelRecord> records;
    std::string notice;
  };

  Flow* FindOrLearn(const std::string& flow_id, const std::string& name, AfterLock& after);
  void Touch(Flow& flow);
  void ApplyStaleLocked(AfterLock& after);
  void AddRun(Flow& flow, RunView run);
  void RunsFromCounters(Flow& flow, AfterLock& after);
  void MarkPoint(Flow& flow, const EventReport& event, EventView& view);
  static void MarkExpected(Flow& flow);
  void Deliver(AfterLock& after);
  std::string Cut(const std::string& text) const;

  const ModelLimits limits_;
  const Clock clock_;
  mutable std::mutex mutex_;
  uint64_t version_{0};
  uint64_t ignored_{0};
  size_t learned_{0};
  size_t learned_heartbeats_{0};
  /// Status names left out by the cap, bounded: past the bound they are counted only.
  std::set<std::string> left_out_names_;
  uint64_t left_out_{0};
  Observer observer_;
  Notice notice_;
  /// Configured flows under "1" + flow id, learned ones under "2" + status name,
  /// so that the configured come first and the two never collide.
  std::map<std::string, Flow> flows_;
  /// Status name -> key in flows_.
  std::map<std::string, std::string> by_name_;
  /// Flow id -> key in flows_ of the configured flow.
  std::map<std::string, std::string> configured_;
};

/// The level word of a DiagnosticStatus level; unknown levels read ERROR.
std::string LevelWord(uint8_t level);
/// The level a word names, as LevelWord writes it; any other text reads ERROR.
uint8_t LevelValue(const std::string& word);

}  // namespace monitor
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__FLOW_MODEL_HPP_
