// Flows that span processes: what the engine does for flow_checker.
#include "engine_lock.hpp"
#include "kestrune_diagnostic_trace/flow_trace.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace trace {

void FlowTrace::NoteLatePoint(const std::string& flow_id) {
  detail::EngineLock lock(mutex_, "NoteLatePoint");
  if (!lock) {
    return;
  }
  auto flow = flows_.find(flow_id);
  if (flow != flows_.end()) {
    ++flow->second.facts.late_points;
  }
}

}  // namespace trace
}  // namespace kestrune
