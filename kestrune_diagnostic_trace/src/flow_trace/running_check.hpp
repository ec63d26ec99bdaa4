#ifndef KESTRUNE_DIAGNOSTIC_TRACE__RUNNING_CHECK_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__RUNNING_CHECK_HPP_

#include <string>

#include "kestrune_diagnostic_trace/detail/flow_state.hpp"
#include "kestrune_diagnostic_trace/trace_point.hpp"
#include "publication.hpp"

namespace kestrune {
namespace trace {
namespace detail {

/// Judges `point`, the point just appended to the flow's queue, against the
/// flow's configuration: advances the flow's check_index and its points'
/// exec_cnt (storing them only when they change), sends an event through
/// `publication` when the point is to be reported, and notes in the flow's
/// facts what its health report needs. Engine mutex held; exceptions from
/// publishing reach the caller.
void RunningCheck(const std::string& flow_id, const TracePoint& point, FlowState& flow,
                  Publication& publication);

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__RUNNING_CHECK_HPP_
