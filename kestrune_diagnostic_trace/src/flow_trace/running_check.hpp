#ifndef KESTRUNE_DIAGNOSTIC_TRACE__RUNNING_CHECK_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__RUNNING_CHECK_HPP_

#include <string>

#include "kestrune_diagnostic_trace/detail/run_facts.hpp"
#include "kestrune_diagnostic_trace/diagnostic_event.hpp"
#include "kestrune_diagnostic_trace/flow_trace.hpp"
#include "kestrune_diagnostic_trace/trace_flow_cfg.hpp"

namespace kestrune {
namespace trace {
namespace detail {

/// Judges `point`, the point just appended to `queue`, the flow's queue, against `flow`,
/// its configuration: advances the flow's check_index and its points' exec_cnt,
/// publishes an event by the publication rule when the point is to be
/// reported, and notes in `facts` what the flow's health report needs. Engine
/// mutex held; exceptions from publishing reach the caller.
void RunningCheck(const std::string& flow_id, const FlowQueue& queue, const TracePoint& point,
                  TraceFlowCfg& flow, RunFacts& facts, const PublishCallback& publish_callback);

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__RUNNING_CHECK_HPP_
