#include "flow_scope.hpp"

#include <kestrune_diagnostic_trace/flow_trace.hpp>

namespace kestrune {
namespace scenario {

using trace::FlowTrace;

FlowScope::FlowScope(const std::string& flow_id) {
  if (flow_id.empty()) {
    return;
  }
  flow_id_ = flow_id;
  FlowTrace::GetInstance()->ResetFlow(flow_id_);
}

FlowScope::~FlowScope() {
  if (!flow_id_.empty()) {
    FlowTrace::GetInstance()->CheckFlow(flow_id_);
  }
}

void FlowScope::Trace(const std::string& point_id) {
  if (!flow_id_.empty()) {
    FlowTrace::GetInstance()->Trace(flow_id_, point_id, true);
  }
}

void FlowScope::Trace(const std::shared_ptr<trace::TracePoint>& point) {
  if (!flow_id_.empty()) {
    FlowTrace::GetInstance()->Trace(flow_id_, point);
  }
}

uint64_t FlowScope::GetFlowDuration() {
  return flow_id_.empty() ? 0 : FlowTrace::GetInstance()->GetFlowDuration(flow_id_);
}

}  // namespace scenario
}  // namespace kestrune
