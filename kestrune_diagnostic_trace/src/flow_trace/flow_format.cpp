// The flow file's keys, written once. The parser, `show`, `render`, the lint,
// the JSON Schema and the fuzzer's dictionary all read this table.
#include "kestrune_diagnostic_trace/flow_format.hpp"

#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>

namespace kestrune {
namespace trace {

namespace {

/// Events carry their id in a signed 32-bit field.
constexpr uint32_t kMaxEventId = std::numeric_limits<int32_t>::max();

template <typename T>
constexpr KeyType TypeOf() {
  if constexpr (std::is_same_v<T, bool>) {
    return KeyType::kBool;
  } else if constexpr (std::is_same_v<T, uint32_t>) {
    return KeyType::kUint32;
  } else if constexpr (std::is_same_v<T, float>) {
    return KeyType::kFloat;
  } else {
    static_assert(std::is_same_v<T, std::string>, "a key holds text, a boolean or a number");
    return KeyType::kString;
  }
}

/// One entry of the table, built up by name.
class Entry {
 public:
  Entry(KeyPlace place, const char* name, KeyType type) {
    key_.place = place;
    key_.name = name;
    key_.type = type;
  }
  template <typename Record, typename T>
  Entry(KeyPlace place, const char* name, T Record::*field) : Entry(place, name, TypeOf<T>()) {
    key_.field = field;
    key_.default_value = T{};
  }

  Entry&& Default(FieldValue value) && {
    key_.default_value = std::move(value);
    return std::move(*this);
  }
  Entry&& DefaultWords(const char* words) && {
    key_.default_words = words;
    return std::move(*this);
  }
  Entry&& Range(uint32_t min, uint32_t max) && {
    key_.min = min;
    key_.max = max;
    return std::move(*this);
  }
  Entry&& Required() && {
    key_.required = true;
    return std::move(*this);
  }
  Entry&& NonEmpty() && {
    key_.non_empty = true;
    return std::move(*this);
  }
  Entry&& Negated() && {
    key_.negated = true;
    return std::move(*this);
  }
  Entry&& Topic() && {
    key_.topic = true;
    return std::move(*this);
  }
  Entry&& Scope(KeyScope scope) && {
    key_.scope = scope;
    return std::move(*this);
  }
  Entry&& Spellings(std::vector<OtherSpelling> spellings) && {
    key_.other_spellings = std::move(spellings);
    return std::move(*this);
  }
  Entry&& Label(const char* label) && {
    key_.label = label;
    return std::move(*this);
  }
  Entry&& Meaning(const char* meaning) && {
    key_.meaning = meaning;
    return std::move(*this);
  }
  operator FlowFileKey() && { return std::move(key_); }

 private:
  FlowFileKey key_;
};

constexpr KeyPlace kTop = KeyPlace::kTop;
constexpr KeyPlace kDiagnostics = KeyPlace::kDiagnostics;
constexpr KeyPlace kFlow = KeyPlace::kFlow;
constexpr KeyPlace kPoint = KeyPlace::kPoint;

}  // namespace

// To add a key: give the record its field (TracePointCfg, TraceFlowCfg,
// DiagnosticsConfig, or ParsedFlowConfig for a top-level key), add one entry
// here, and run tools/generate_flow_format.sh to rewrite the committed schema
// and fuzz dictionary. A bool, a text or a number with its range then needs
// nothing more to be parsed, shown, rendered (with a Label), linted and
// validated; only what the key does is code of its own. Within a place the
// order is the order of reading (the first value that fails names the error)
// and of writing; flow_id stays first, as it decides which keys its flow reads.
const std::vector<FlowFileKey>& FlowFileKeys() {
  static const std::vector<FlowFileKey> keys{
      Entry(kTop, "workflows", KeyType::kFlows)
          .Required()
          .Meaning(
              "The flows, in order; a later flow with the same flow_id replaces an earlier one."),
      Entry(kTop, "diagnostics", KeyType::kSection)
          .Meaning("Flow health on /diagnostics, one status per flow; published only by Init "
                   "with a node."),

      Entry(kTop, "points_topic", &ParsedFlowConfig::points_topic)
          .Default(std::string(kDefaultPointsTopic))
          .NonEmpty()
          .Topic()
          .Meaning("Where the points of remote flows go, relative to the node's namespace, and "
                   "where flow_checker listens unless told --points-topic."),

      Entry(kDiagnostics, "enabled", &DiagnosticsConfig::enabled)
          .Meaning("Publish one status per flow on /diagnostics; false: nothing is published."),
      Entry(kDiagnostics, "period_ms", &DiagnosticsConfig::period_ms)
          .Default(DiagnosticsConfig::kDefaultPeriodMs)
          .Range(DiagnosticsConfig::kMinPeriodMs, DiagnosticsConfig::kMaxPeriodMs)
          .Meaning("How often the full array is published, in ms; level changes go out at once."),
      Entry(kDiagnostics, "hardware_id", &DiagnosticsConfig::hardware_id)
          .NonEmpty()
          .DefaultWords("the node's name")
          .Meaning("The statuses' hardware_id."),
      Entry(kDiagnostics, "stats_window", &DiagnosticsConfig::stats_window)
          .Default(DiagnosticsConfig::kDefaultStatsWindow)
          .Range(1, DiagnosticsConfig::kMaxStatsWindow)
          .Meaning("How many of each flow's latest passing runs its duration statistics keep."),

      Entry(kFlow, "flow_id", &TraceFlowCfg::flow_id)
          .Required()
          .NonEmpty()
          .Meaning("Name of the flow in every call; 'heartbeat' is the heartbeat flow."),
      Entry(kFlow, "flow_name", &TraceFlowCfg::flow_name)
          .Meaning("Human-readable name, shown in log lines."),
      Entry(kFlow, "diag_topic", &TraceFlowCfg::diag_topic)
          .Topic()
          .Label("topic {}")
          .Meaning("ROS 2 topic of the flow's events; flows naming the same topic share one "
                   "publisher. Empty: no publisher."),
      Entry(kFlow, "description", &TraceFlowCfg::description).Meaning("Free text."),
      Entry(kFlow, "check_order", &TraceFlowCfg::check_order)
          .Default(true)
          .Meaning("true: the points must come in the listed order; false: each listed point "
                   "must come, in any order."),
      Entry(kFlow, "event_id", &TraceFlowCfg::event_id)
          .Range(0, kMaxEventId)
          .Spellings({{"failure_id", false}, {"faliure_id", true}})
          .Label("event {}")
          .Meaning("Id of the flow's verdict events; when not 0 it also replaces the points' "
                   "ids in verdict failures."),
      Entry(kFlow, "stall_ms", &TraceFlowCfg::stall_ms)
          .Scope(KeyScope::kOtherFlows)
          .Label("stall after {} ms")
          .Meaning("A started run with no new point for this long is stalled: one failure "
                   "event, level ERROR on /diagnostics. 0: off."),
      Entry(kFlow, "remote", &TraceFlowCfg::remote)
          .Scope(KeyScope::kOtherFlows)
          .Label("remote")
          .Meaning("true: judged by flow_checker; with a node, Trace, CheckFlow and ResetFlow "
                   "send the flow's points and requests on points_topic instead of judging "
                   "them here."),
      Entry(kFlow, "check_at_end", &TraceFlowCfg::check_at_end)
          .Scope(KeyScope::kOtherFlows)
          .Label("check at end")
          .Meaning("true: the run is checked, then reset, once its last configured point is "
                   "recorded and its repeat count reached (unordered: once every configured "
                   "point has come), or when it stalls."),
      Entry(kFlow, "budget_ms", &TraceFlowCfg::budget_ms)
          .Scope(KeyScope::kOtherFlows)
          .Label("budget {} ms")
          .Meaning("A checked run that passed but took longer than this (ms, on the steady "
                   "clock) makes the flow WARN on /diagnostics until a run within it passes. "
                   "0: off."),
      Entry(kFlow, "budget_event_id", &TraceFlowCfg::budget_event_id)
          .Range(0, kMaxEventId)
          .Scope(KeyScope::kOtherFlows)
          .Label("over-budget event {}")
          .Meaning("Id of the event sent, status 1, for each run over budget_ms; the verdict "
                   "keeps event_id. 0: no event."),
      Entry(kFlow, "drift_pct", &TraceFlowCfg::drift_pct)
          .Range(0, 1000)
          .Scope(KeyScope::kOtherFlows)
          .Label("drift {} %")
          .Meaning("WARN when the median of the last 20 passing runs exceeds the median of the "
                   "statistics window by more than this percentage (after 50 runs). 0: off."),
      Entry(kFlow, "duration_ms", &ParsedFlowConfig::heartbeat_period_ms)
          .Scope(KeyScope::kHeartbeatFlow)
          .Label("a beat every {} ms")
          .Meaning("Heartbeat flow only: the heartbeat period in ms. 0: no heartbeat."),
      Entry(kFlow, "flow_points", KeyType::kPoints).Meaning("The expected points, in order."),

      Entry(kPoint, "point_id", &TracePointCfg::point_id)
          .Required()
          .Meaning("Name passed to Trace."),
      Entry(kPoint, "event_id", &TracePointCfg::event_id)
          .Range(0, kMaxEventId)
          .Spellings({{"failure_id", false}, {"faliure_id", true}})
          .Label("event {}")
          .Meaning("Id of this point's events; 0 silences its success, failure and timeout "
                   "reports."),
      Entry(kPoint, "on_success", &TracePointCfg::on_success)
          .Meaning("Publish 'Status OK: <point_id>' when the point succeeds (needs an event_id)."),
      Entry(kPoint, "on_failure", &TracePointCfg::on_failure)
          .Default(true)
          .Meaning("Publish 'Status Failed: <point_id>' when the point fails (needs an "
                   "event_id)."),
      Entry(kPoint, "on_timeout", &TracePointCfg::on_timeout)
          .Meaning("Publish '<point_id>Timeout' when a repeated point comes late (needs "
                   "timeout_ms, repeat_cnt and an event_id)."),
      Entry(kPoint, "repeat_cnt", &TracePointCfg::repeat_cnt)
          .Meaning("Ordered flows: how many recordings of this point in a row one run "
                   "expects; 0: one."),
      Entry(kPoint, "repeat_max", &TracePointCfg::repeat_max)
          .Meaning("Upper bound of the point's match count; 0: none."),
      Entry(kPoint, "timeout_ms", &TracePointCfg::timeout_ms)
          .Label("timeout {} ms")
          .Meaning("Longest gap in ms between a repeated point and the point recorded before "
                   "it; 0: none."),
      Entry(kPoint, "freq_min", &TracePointCfg::freq_min)
          .Meaning("Stored with the point; no check uses it."),
      Entry(kPoint, "point_desc", &TracePointCfg::description)
          .Spellings({{"description", false}})
          .Meaning("Free text."),
      Entry(kPoint, "optional", &TracePointCfg::is_critical)
          .Negated()
          .Label("optional")
          .Meaning("true: the run passes without this point, and its failure does not fail "
                   "the run."),
  };
  return keys;
}

const FlowFileKey* FindFlowFileKey(KeyPlace place, std::string_view name) {
  for (const FlowFileKey& key : FlowFileKeys()) {
    if (key.place != place) {
      continue;
    }
    if (name == key.name) {
      return &key;
    }
    for (const OtherSpelling& spelling : key.other_spellings) {
      if (name == spelling.name) {
        return &key;
      }
    }
  }
  return nullptr;
}

}  // namespace trace
}  // namespace kestrune
