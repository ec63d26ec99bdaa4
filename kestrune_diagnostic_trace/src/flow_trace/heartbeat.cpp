// The heartbeat thread.
#include "kestrune_diagnostic_trace/flow_trace.hpp"

namespace kestrune {
namespace trace {

FlowTrace::~FlowTrace() = default;

void FlowTrace::startHeartbeat() {}

void FlowTrace::heartbeatThreadFun(std::atomic<uint32_t>& /*duration_ms*/) {}

}  // namespace trace
}  // namespace kestrune
