// Uses the public headers the way an application does: the engine, the
// configuration records, the log macros and the message type.
#include <memory>
#include <vector>

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

  kestrune_protocol::msg::DiagnosticEvent event;
  event.msg = "linked";
  KLOG_INFO("downstream check status: {}, event: {}", static_cast<uint32_t>(result->status),
            event.msg);
  return result->status == kestrune::trace::FlowCheckStatus::SUCCESS ? 0 : 1;
}
