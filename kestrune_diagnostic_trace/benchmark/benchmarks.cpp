// The tracer's cost against the least work of recording a point, and against peers.
//
// Every figure is meant to be read as a ratio to "Baseline" of the same run;
// tools/run_benchmarks.sh runs this program once with logging suppressed and
// once with info lines going to /dev/null, and writes the table.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/null_sink.h>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <rclcpp/rclcpp.hpp>

#include "baseline_recorder.hpp"
#include "engine_setup.hpp"
#include "tracepoint_provider.hpp"

namespace {

using kestrune::bench::BaselineRecorder;
using kestrune::bench::EngineSetup;
using kestrune::trace::DiagnosticEvent;
using kestrune::trace::DiagnosticPublisher;
using kestrune::trace::FlowTrace;

/// One Trace per iteration, the flow reset after each run of its points.
void TraceRuns(benchmark::State& state, FlowTrace& engine, const std::string& flow_id) {
  const auto& points = EngineSetup::PointIds();
  size_t next = 0;
  for (auto _ : state) {
    engine.Trace(flow_id, points[next], true);
    if (++next == points.size()) {
      next = 0;
      engine.ResetFlow(flow_id);
    }
  }
  // The next benchmark starts a fresh run.
  engine.ResetFlow(flow_id);
}

void BaselineRuns(benchmark::State& state, BaselineRecorder& recorder, const std::string& flow_id) {
  const auto& points = EngineSetup::PointIds();
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(recorder.Record(flow_id, points[next]));
    if (++next == points.size()) {
      next = 0;
    }
  }
  // Ends on a completed run, so the recorder's run and this loop's stay in step.
  while (next != 0) {
    recorder.Record(flow_id, points[next]);
    next = (next + 1) % points.size();
  }
}

void RegisterAll(EngineSetup& setup, BaselineRecorder& baseline,
                 const std::shared_ptr<DiagnosticPublisher>& publisher) {
  FlowTrace& engine = setup.engine();

  benchmark::RegisterBenchmark("Baseline", [&baseline](benchmark::State& state) {
    BaselineRuns(state, baseline, EngineSetup::kPlainFlow);
  });
  benchmark::RegisterBenchmark("Trace/no_event", [&engine](benchmark::State& state) {
    TraceRuns(state, engine, EngineSetup::kPlainFlow);
  });
  // The same with flow health published on /diagnostics every 100 ms: its
  // thread copies the flows under the engine mutex at every tick.
  // The same points through handles made once: no lookup of the flow by its id.
  benchmark::RegisterBenchmark("Trace/handle", [&engine](benchmark::State& state) {
    std::vector<kestrune::trace::TracePointHandle> handles;
    for (const auto& point_id : EngineSetup::PointIds()) {
      handles.push_back(engine.Point(EngineSetup::kPlainFlow, point_id));
    }
    size_t next = 0;
    for (auto _ : state) {
      handles[next].Trace(true);
      if (++next == handles.size()) {
        next = 0;
        engine.ResetFlow(EngineSetup::kPlainFlow);
      }
    }
    engine.ResetFlow(EngineSetup::kPlainFlow);
  });
  benchmark::RegisterBenchmark("Trace/no_event/diagnostics_on",
                               [&engine, &setup](benchmark::State& state) {
                                 setup.SetDiagnostics(true);
                                 TraceRuns(state, engine, EngineSetup::kPlainFlow);
                                 setup.SetDiagnostics(false);
                               });
  benchmark::RegisterBenchmark("Trace/callback_event", [&engine](benchmark::State& state) {
    TraceRuns(state, engine, EngineSetup::kCallbackFlow);
  });
  benchmark::RegisterBenchmark("Trace/node_event", [&engine](benchmark::State& state) {
    TraceRuns(state, engine, EngineSetup::kNodeFlow);
  });
  benchmark::RegisterBenchmark("DirectPublish", [publisher](benchmark::State& state) {
    const DiagnosticEvent event = EngineSetup::NodeFlowEvent();
    for (auto _ : state) {
      publisher->publish(event);
    }
  });

  for (const size_t size : EngineSetup::kCheckFlowSizes) {
    const std::string flow_id = EngineSetup::CheckFlowId(size);
    benchmark::RegisterBenchmark(("CheckFlow/" + std::to_string(size)).c_str(),
                                 [&engine, flow_id](benchmark::State& state) {
                                   for (auto _ : state) {
                                     benchmark::DoNotOptimize(engine.CheckFlow(flow_id));
                                   }
                                 })
        ->Unit(benchmark::kMicrosecond);
  }

  benchmark::RegisterBenchmark("Baseline/separate_flows",
                               [&baseline](benchmark::State& state) {
                                 BaselineRuns(state, baseline,
                                              EngineSetup::ThreadFlow(state.thread_index()));
                               })
      ->Threads(1)
      ->Threads(2)
      ->Threads(4)
      ->UseRealTime();
  benchmark::RegisterBenchmark("Trace/separate_flows",
                               [&engine](benchmark::State& state) {
                                 TraceRuns(state, engine,
                                           EngineSetup::ThreadFlow(state.thread_index()));
                               })
      ->Threads(1)
      ->Threads(2)
      ->Threads(4)
      ->UseRealTime();
  benchmark::RegisterBenchmark("Baseline/one_flow",
                               [&baseline](benchmark::State& state) {
                                 BaselineRuns(state, baseline, EngineSetup::kSharedFlow);
                               })
      ->Threads(1)
      ->Threads(2)
      ->Threads(4)
      ->UseRealTime();
  benchmark::RegisterBenchmark(
      "Trace/one_flow",
      [&engine](benchmark::State& state) { TraceRuns(state, engine, EngineSetup::kSharedFlow); })
      ->Threads(1)
      ->Threads(2)
      ->Threads(4)
      ->UseRealTime();

  benchmark::RegisterBenchmark("Peer/spdlog_null_sink", [](benchmark::State& state) {
    spdlog::logger logger("bench_null", std::make_shared<spdlog::sinks::null_sink_mt>());
    logger.set_level(spdlog::level::info);
    const std::string text = EngineSetup::NodeFlowEvent().msg;
    for (auto _ : state) {
      logger.info("ROS2 topic pub: '{}'", text);
    }
  });
  benchmark::RegisterBenchmark("Peer/lttng_tracepoint_no_session", [](benchmark::State& state) {
    const char* point_id = EngineSetup::PointIds()[3].c_str();
    for (auto _ : state) {
      lttng_ust_tracepoint(kestrune_bench, point, EngineSetup::kPlainFlow, point_id);
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  for (const char* name : {"SPDLOG_LEVEL", "SPDLOG_STDOUT", "SPDLOG_SYSTEMD"}) {
    const char* value = std::getenv(name);
    benchmark::AddCustomContext(name, value == nullptr ? "(unset)" : value);
  }

  int status = 0;
  rclcpp::init(argc, argv);
  {
    auto node = std::make_shared<rclcpp::Node>("kestrune_benchmarks");
    EngineSetup setup(node);
    setup.AddCheckFlows();
    BaselineRecorder baseline(setup.FlowIds(), EngineSetup::PointIds());
    const auto publisher = setup.engine().GetTraceFlowCfg(EngineSetup::kNodeFlow)->publisher;
    if (!publisher) {
      std::cerr << "the flow " << EngineSetup::kNodeFlow << " has no publisher\n";
      status = 1;
    } else {
      RegisterAll(setup, baseline, publisher);
      // A filter that matches nothing is a failed run, not an empty one.
      status = benchmark::RunSpecifiedBenchmarks() == 0 ? 1 : 0;
    }
    benchmark::Shutdown();
  }
  rclcpp::shutdown();
  return status;
}
