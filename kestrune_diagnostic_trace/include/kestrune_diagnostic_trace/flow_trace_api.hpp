#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_API_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_API_HPP_

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "kestrune_diagnostic_trace/flow_check_result.hpp"
#include "kestrune_diagnostic_trace/trace_point.hpp"

// Free functions for applications that do not hold the engine: each forwards
// to the member of the same name of FlowTrace::GetInstance().
namespace kestrune {
namespace trace {

/// Loads the flow configuration without a node: no flow gets a publisher.
void Init(const std::string& config_path);
std::shared_ptr<FlowCheckResult> CheckFlow(const std::string& flow_id);
uint64_t GetFlowDuration(const std::string& flow_id);
void ResetFlow(const std::string& flow_id);
void ResetAllFlows();
void Trace(const std::string& flow_id, const std::string& point_id, bool success);
/// See FlowTrace::GetTracePoints for how long the reference may be read.
const std::deque<std::shared_ptr<TracePoint>>& GetTracePoints(const std::string& flow_id);

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_API_HPP_
