// Runs one loop of Baseline or Trace for callgrind:
//   instruction_count Baseline|Trace|TraceCallbackEvent <calls>
// Trace records into the ordered flow that sends no event, TraceCallbackEvent
// into the one whose every point sends an event to a publish callback that does
// nothing. tools/run_benchmarks.sh counts instructions only inside
// MeasuredCalls (--toggle-collect) for two call counts and divides the
// difference by the extra calls, which cancels everything paid once.
#include <cstdlib>
#include <iostream>
#include <string>

#include "baseline_recorder.hpp"
#include "engine_setup.hpp"

namespace {

using kestrune::bench::BaselineRecorder;
using kestrune::bench::EngineSetup;

// Kept out of line under a fixed name: callgrind collects only inside it.
[[gnu::noinline]] void MeasuredCalls(const std::string& subject, EngineSetup& setup,
                                     BaselineRecorder& baseline, size_t calls) {
  const bool is_baseline = subject == "Baseline";
  const std::string flow_id =
      subject == "TraceCallbackEvent" ? EngineSetup::kCallbackFlow : EngineSetup::kPlainFlow;
  const auto& points = EngineSetup::PointIds();
  size_t next = 0;
  bool expected = true;
  for (size_t call = 0; call < calls; ++call) {
    if (is_baseline) {
      expected = baseline.Record(flow_id, points[next]) && expected;
    } else {
      setup.engine().Trace(flow_id, points[next], true);
    }
    if (++next == points.size()) {
      next = 0;
      if (!is_baseline) {
        setup.engine().ResetFlow(flow_id);
      }
    }
  }
  if (!expected) {
    std::cerr << "baseline recorded an unexpected point\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string subject = argc == 3 ? argv[1] : "";
  if (subject != "Baseline" && subject != "Trace" && subject != "TraceCallbackEvent") {
    std::cerr << "usage: instruction_count Baseline|Trace|TraceCallbackEvent <calls>\n";
    return 2;
  }
  const size_t calls = std::strtoul(argv[2], nullptr, 10);

  // The same flow table as the benchmark program, so lookups cost the same.
  EngineSetup setup(nullptr);
  setup.AddCheckFlows();
  BaselineRecorder baseline(setup.FlowIds(), EngineSetup::PointIds());
  MeasuredCalls(subject, setup, baseline, calls);
  return 0;
}
