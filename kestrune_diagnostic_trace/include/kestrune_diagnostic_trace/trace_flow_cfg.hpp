#ifndef KESTRUNE_DIAGNOSTIC_TRACE__TRACE_FLOW_CFG_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__TRACE_FLOW_CFG_HPP_

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "kestrune_diagnostic_trace/diagnostic_event.hpp"
#include "kestrune_diagnostic_trace/trace_point_cfg.hpp"

namespace kestrune {
namespace trace {

/// One traced flow: its identity, its reporting topic and its expected points in order.
///
/// Shared between the engine and whoever registered it. `check_index` is
/// run-time state written by the running check under the engine mutex.
struct TraceFlowCfg {
  /// Whether the checks hold recorded points to the order of `flow_points`.
  bool check_order{true};
  /// Index in `flow_points` of the point the running check expects next.
  uint32_t check_index{0};
  uint32_t event_id{0};
  /// A started run without a new point for this long is stalled; 0 turns it off.
  uint32_t stall_ms{0};
  /// Judged by a flow checker: Trace, CheckFlow and ResetFlow send the flow's
  /// points and requests to it instead of judging them here. Read from flow files.
  bool remote{false};
  /// The run is checked, then reset, once its last configured point is recorded
  /// and its repeat count reached (unordered: once every configured point has come).
  bool check_at_end{false};
  /// A checked run that passed but took longer than this (ms) makes the flow
  /// WARN; 0 turns it off.
  uint32_t budget_ms{0};
  /// Id of the event sent for a run over budget; 0 sends none.
  uint32_t budget_event_id{0};
  /// WARN when the median of the recent runs exceeds the window's by this many
  /// percent; 0 turns it off.
  uint32_t drift_pct{0};
  std::string flow_id;
  std::string flow_name;
  std::string diag_topic;
  std::string description;
  std::deque<std::shared_ptr<TracePointCfg>> flow_points;
  /// Publisher of `diag_topic`, shared with every flow of the same topic; empty without a node.
  std::shared_ptr<DiagnosticPublisher> publisher;
};

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__TRACE_FLOW_CFG_HPP_
