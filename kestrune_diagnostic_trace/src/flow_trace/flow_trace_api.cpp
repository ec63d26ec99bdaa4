#include "kestrune_diagnostic_trace/flow_trace_api.hpp"

#include "kestrune_diagnostic_trace/flow_trace.hpp"

namespace kestrune {
namespace trace {

void Init(const std::string& config_path) {
  FlowTrace::GetInstance()->Init(config_path, std::shared_ptr<rclcpp::Node>());
}

std::shared_ptr<FlowCheckResult> CheckFlow(const std::string& flow_id) {
  return FlowTrace::GetInstance()->CheckFlow(flow_id);
}

uint64_t GetFlowDuration(const std::string& flow_id) {
  return FlowTrace::GetInstance()->GetFlowDuration(flow_id);
}

void ResetFlow(const std::string& flow_id) {
  FlowTrace::GetInstance()->ResetFlow(flow_id);
}

void ResetAllFlows() {
  FlowTrace::GetInstance()->ResetAllFlows();
}

void Trace(const std::string& flow_id, const std::string& point_id, bool success) {
  FlowTrace::GetInstance()->Trace(flow_id, point_id, success);
}

const std::deque<std::shared_ptr<TracePoint>>& GetTracePoints(const std::string& flow_id) {
  return FlowTrace::GetInstance()->GetTracePoints(flow_id);
}

}  // namespace trace
}  // namespace kestrune
