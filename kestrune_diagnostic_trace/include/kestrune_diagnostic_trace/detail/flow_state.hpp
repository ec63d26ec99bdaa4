#ifndef KESTRUNE_DIAGNOSTIC_TRACE__DETAIL__FLOW_STATE_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__DETAIL__FLOW_STATE_HPP_

#include <memory>

#include "kestrune_diagnostic_trace/detail/point_pool.hpp"
#include "kestrune_diagnostic_trace/detail/run_facts.hpp"
#include "kestrune_diagnostic_trace/detail/run_window.hpp"
#include "kestrune_diagnostic_trace/diagnostic_event.hpp"
#include "kestrune_diagnostic_trace/trace_flow_cfg.hpp"
#include "kestrune_diagnostic_trace/trace_point.hpp"

namespace kestrune {
namespace trace {
namespace detail {

/// What the engine holds for one registered flow; guarded by the engine mutex.
struct FlowState {
  /// The points recorded since the flow was registered or last reset.
  FlowQueue queue;
  /// The flow's configuration, shared with whoever registered it; its
  /// check_index and its points' exec_cnt are the running check's state.
  std::shared_ptr<TraceFlowCfg> cfg;
  /// What the checks found, for the flow's health report.
  RunFacts facts;
  /// The durations of its latest passing runs.
  RunWindow window;
  /// Points of earlier runs, for the next ones.
  PointPool spare;
  /// Whether a point in the queue may be held outside the engine: by a check
  /// result, by a reader of the queue, or by the caller who prepared it.
  /// Cleared when the queue is emptied (or, for the heartbeat, trimmed).
  bool points_handed_out{false};
  /// The running check's event, kept so that its texts keep their buffers.
  DiagnosticEvent event;
};

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__DETAIL__FLOW_STATE_HPP_
