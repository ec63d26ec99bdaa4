// libFuzzer target: arbitrary bytes through the configuration parser, the lint
// and show (whose output must load the same) and, as a flow configuration file,
// through Init; then every flow the file defined is traced and checked in a few
// ways. A crash,
// a sanitizer report, a hang, an exception out of the engine or a broken
// invariant (abort) is a finding. Run it with tools/run_fuzzer.sh.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>

#include <kestrune_diagnostic_trace/flow_config.hpp>
#include <kestrune_diagnostic_trace/flow_config_lint.hpp>
#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "flow_show.hpp"
#include "support/same_config.hpp"

namespace {

using kestrune::trace::DiagnosticEvent;
using kestrune::trace::FlowCheckResult;
using kestrune::trace::FlowCheckStatus;
using kestrune::trace::FlowTrace;
using kestrune::trace::PublishCallback;
using kestrune::trace::TraceFlowCfg;

const char kHeartbeat[] = "heartbeat";

/// State shared with the publish callback, which runs under the engine lock.
struct Harness {
  int config_fd{-1};
  std::string config_path;
  std::thread::id fuzzing_thread;
  // The flow being exercised; an event about another one means a mix-up.
  std::string current_flow;
  PublishCallback callback;
};

Harness& State() {
  static Harness harness;
  return harness;
}

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void RequireValid(const std::shared_ptr<FlowCheckResult>& result) {
  Require(result != nullptr);
  Require(static_cast<uint32_t>(result->status) <= 6);
}

/// Checks what a trace may change, for a flow that keeps what was traced.
void RequireQueueOf(const std::string& flow_id, size_t traced) {
  const auto& queue = FlowTrace::GetInstance()->GetTracePoints(flow_id);
  Require(queue.size() == traced);
  for (size_t i = 0; i < queue.size(); ++i) {
    Require(queue[i]->index == i);
  }
}

void Exercise(const std::string& flow_id, const TraceFlowCfg& flow) {
  FlowTrace* engine = FlowTrace::GetInstance();
  // The heartbeat's thread may record at any moment, a remote flow's points go
  // to its checker, and check_at_end resets a run at its last point: none keeps
  // exactly what was traced.
  const bool keeps_traces = flow_id != kHeartbeat && !flow.remote && !flow.check_at_end;
  State().current_flow = flow_id;

  // Every configured point once, in order and successful.
  size_t traced = 0;
  for (const auto& point : flow.flow_points) {
    engine->Trace(flow_id, point->point_id, true);
    ++traced;
  }
  if (keeps_traces) {
    RequireQueueOf(flow_id, traced);
  }
  RequireValid(engine->CheckFlow(flow_id));
  engine->GetFlowDuration(flow_id);

  // Backwards, every other point failed, then a repeat, an unknown point with
  // metadata and a prepared point without a configuration.
  engine->ResetFlow(flow_id);
  traced = 0;
  bool success = false;
  for (auto point = flow.flow_points.rbegin(); point != flow.flow_points.rend(); ++point) {
    engine->Trace(flow_id, (*point)->point_id, success);
    success = !success;
    ++traced;
  }
  if (!flow.flow_points.empty()) {
    engine->Trace(flow_id, flow.flow_points.front()->point_id, true);
    ++traced;
  }
  engine->Trace(flow_id, "undefined point", true, {{"key", "value"}, {"", ""}});
  engine->Trace(flow_id, std::make_shared<kestrune::trace::TracePoint>(flow_id, false));
  traced += 2;
  if (keeps_traces) {
    RequireQueueOf(flow_id, traced);
  }
  RequireValid(engine->CheckFlow(flow_id));
  engine->GetFlowDuration(flow_id);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // Every line is formatted, down to debug; none is written.
  setenv("SPDLOG_STDOUT", "false", 1);
  setenv("SPDLOG_SYSTEMD", "false", 1);
  setenv("SPDLOG_LEVEL", "debug", 1);

  Harness& state = State();
  // The configuration lives in memory; Init reads it through its /proc path.
  state.config_fd = memfd_create("flow_config", 0);
  Require(state.config_fd >= 0);
  state.config_path = "/proc/self/fd/" + std::to_string(state.config_fd);
  state.fuzzing_thread = std::this_thread::get_id();
  state.callback = [](const std::string& /*topic*/, const DiagnosticEvent& event) {
    Require(event.status == 0 || event.status == 1);
    // The heartbeat thread reports its own flow; everything else is the flow at hand.
    Require(std::this_thread::get_id() == State().fuzzing_thread
                ? event.source_id == State().current_flow
                : event.source_id == kHeartbeat);
    return true;
  };
  // Handlers outlive Init, so only a fixed few are registered.
  for (const char* flow_id : {"heartbeat", "pick", "grab_place_task", "toilet"}) {
    FlowTrace::GetInstance()->RegisterFlowHandler(
        flow_id, [](const std::string& flow, const std::shared_ptr<FlowCheckResult>& result) {
          Require(flow == State().current_flow);
          RequireValid(result);
        });
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness& state = State();
  Require(ftruncate(state.config_fd, 0) == 0);
  Require(pwrite(state.config_fd, data, size, 0) == static_cast<ssize_t>(size));

  // Init loads exactly the flows the parser reads; findings point into the text.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto parsed = kestrune::trace::ParseFlowConfig(text);
  std::set<std::string> parsed_ids;
  for (const auto& flow : parsed.flows) {
    parsed_ids.insert(flow->flow_id);
  }
  bool utf8 = true;
  for (const auto& finding : parsed.findings) {
    Require(finding.line >= 0 && finding.column >= 0);
    utf8 = utf8 && finding.code != kestrune::trace::FindingCode::kNotUtf8;
  }
  for (const auto& finding : kestrune::trace::LintFlowConfig(text)) {
    Require(finding.line >= 0 && finding.column >= 0 && !finding.message.empty());
  }
  // show's output loads as the text does; bytes that are not UTF-8 may be
  // rewritten where a value must be quoted.
  const std::string shown = kestrune::flow_tool::ShowFlowConfig(parsed);
  Require(!utf8 ||
          kestrune_test::ConfigDifference(parsed, kestrune::trace::ParseFlowConfig(shown)).empty());

  FlowTrace* engine = FlowTrace::GetInstance();
  engine->Init(state.config_path, state.callback);
  Require(engine->GetTraceFlows() == parsed_ids);
  for (const std::string& flow_id : engine->GetTraceFlows()) {
    const std::shared_ptr<TraceFlowCfg> flow = engine->GetTraceFlowCfg(flow_id);
    Require(flow != nullptr && flow->flow_id == flow_id);
    Require(flow_id != kHeartbeat ||
            (!flow->flow_points.empty() && flow->flow_points.front()->point_id == kHeartbeat));
    Exercise(flow_id, *flow);
  }
  return 0;
}
