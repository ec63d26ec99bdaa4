#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_HPP_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kestrune_diagnostic_trace/trace_flow_cfg.hpp"

namespace kestrune {
namespace trace {

/// The reserved id of the heartbeat flow, which is also the id of its own point.
inline constexpr char kHeartbeatFlowId[] = "heartbeat";
/// Where points of flows judged by a flow checker travel, relative to the node's namespace.
inline constexpr char kDefaultPointsTopic[] = "kestrune/points";

enum class FindingSeverity { kError, kWarning };

/// One thing wrong with a flow configuration, and where.
struct ConfigFinding {
  FindingSeverity severity;
  /// 1-based position in the text of the offending node; 0 when unknown.
  int line;
  int column;
  /// The YAML key concerned ("repeat_cnt", "flow_id", "workflows"); empty when none.
  std::string key;
  std::string message;
};

/// The `diagnostics` section: flow health on /diagnostics, off unless enabled.
struct DiagnosticsConfig {
  static constexpr uint32_t kDefaultPeriodMs = 1000;
  static constexpr uint32_t kMinPeriodMs = 100;
  static constexpr uint32_t kMaxPeriodMs = 4000;

  bool enabled{false};
  /// How often the full array is published; level changes go out sooner.
  uint32_t period_ms{kDefaultPeriodMs};
  /// The statuses' hardware_id; empty means the node's name.
  std::string hardware_id;
};

/// What a flow configuration text holds, as `FlowTrace::Init` loads it.
struct ParsedFlowConfig {
  /// Every flow that parsed, in file order; when two share a flow_id the later
  /// one is the one loaded. A heartbeat flow already starts with its point.
  /// No flow has a publisher: those are the engine's to create.
  std::vector<std::shared_ptr<TraceFlowCfg>> flows;
  /// The `duration_ms` of the last heartbeat flow; 0 without one.
  uint32_t heartbeat_period_ms{0};
  /// Defaults for every key absent or refused.
  DiagnosticsConfig diagnostics;
  /// The topic of the points of remote flows, and the one a flow checker listens on.
  std::string points_topic{kDefaultPointsTopic};
  /// One error for every entry dropped or file refused, in file order.
  std::vector<ConfigFinding> findings;
};

/// Reads a flow configuration (the YAML text of a configuration file).
///
/// Pure: touches no engine, creates no publisher, reads no file and logs
/// nothing, so any thread may call it at any time. Never throws for bad input;
/// every entry `Init` would refuse or drop becomes an error finding.
ParsedFlowConfig ParseFlowConfig(const std::string& text);

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_HPP_
