// The flow check: the verdict on a whole run of a flow.
#include "kestrune_diagnostic_trace/flow_trace.hpp"

namespace kestrune {
namespace trace {

std::shared_ptr<FlowCheckResult> FlowTrace::CheckFlow(const std::string& /*flow_id*/) {
  auto result = std::make_shared<FlowCheckResult>();
  result->status = FlowCheckStatus::INVALID_FLOW;
  return result;
}

}  // namespace trace
}  // namespace kestrune
