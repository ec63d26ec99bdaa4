// Uses the public headers the way an application does: the engine, the
// configuration records, the log macros, the message type, and the lint of
// the flow tools library.
#include <memory>
#include <vector>

#include <kestrune_diagnostic_trace/flow_config_lint.hpp>
#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <kestrune_diagnostic_trace/logger.hpp>
#include <kestrune_protocol/msg/diagnostic_event.hpp>

int main() {
  using kestrune::trace::FlowTrace;
  using kestrune::trace::TracePointCfg;

  std::vector<std::shared_ptr<TracePointCfg>> points{std::make_shared<TracePointCfg>("start"),
                                                     std::make_shared<TracePointCfg>("done")};
  for (auto& point : points) {
    point->is_critical = true;
  }
  FlowTrace* tracer = FlowTrace::GetInstance();
  tracer->RegisterTraceFlow("downstream", points, "downstream flow", "", true);
  tracer->Trace("downstream", "start", true);
  tracer->Trace("downstream", "done", true);
  const auto result = tracer->CheckFlow("downstream");

  const auto findings = kestrune::trace::LintFlowConfig(
      "workflows:\n  - {flow_id: downstream, flow_points: [{point_id: start, optinal: true}]}\n");
  if (findings.size() != 1 || findings[0].code != kestrune::trace::FindingCode::kUnknownKey) {
    return 1;
  }

  kestrune_protocol::msg::DiagnosticEvent event;
  event.msg = "linked";
  KLOG_INFO("downstream check status: {}, event: {}", static_cast<uint32_t>(result->status),
            event.msg);
  return result->status == kestrune::trace::FlowCheckStatus::SUCCESS ? 0 : 1;
}
