// Runs one loop of Baseline, Trace or a publication for callgrind:
//   instruction_count <subject> <calls>
// Trace records into the ordered flow that sends no event, TraceHandle the same
// through handles made beforehand, TraceCallbackEvent into the flow whose every
// point sends an event to a publish callback that does nothing, TraceNodeEvent
// into the one that sends each through the node's publisher, and DirectPublish
// publishes the same kind of event on that publisher itself.
// tools/run_benchmarks.sh counts instructions only inside MeasuredCalls
// (--toggle-collect) for two call counts and divides the difference by the
// extra calls, which cancels everything paid once.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "baseline_recorder.hpp"
#include "engine_setup.hpp"

namespace {

using kestrune::bench::BaselineRecorder;
using kestrune::bench::EngineSetup;

const std::set<std::string> kSubjects = {"Baseline",           "Trace",          "TraceHandle",
                                         "TraceCallbackEvent", "TraceNodeEvent", "DirectPublish"};

// Kept out of line under a fixed name: callgrind collects only inside it.
[[gnu::noinline]] void MeasuredCalls(const std::string& subject, EngineSetup& setup,
                                     BaselineRecorder& baseline, size_t calls) {
  if (subject == "DirectPublish") {
    const auto publisher = setup.engine().GetTraceFlowCfg(EngineSetup::kNodeFlow)->publisher;
    const auto event = EngineSetup::NodeFlowEvent();
    for (size_t call = 0; call < calls; ++call) {
      publisher->publish(event);
    }
    return;
  }
  const bool is_baseline = subject == "Baseline";
  const std::string flow_id = subject == "TraceCallbackEvent" ? EngineSetup::kCallbackFlow
                              : subject == "TraceNodeEvent"   ? EngineSetup::kNodeFlow
                                                              : EngineSetup::kPlainFlow;
  const auto& points = EngineSetup::PointIds();
  std::vector<kestrune::trace::TracePointHandle> handles;
  if (subject == "TraceHandle") {
    for (const auto& point_id : points) {
      handles.push_back(setup.engine().Point(flow_id, point_id));
    }
  }
  size_t next = 0;
  bool expected = true;
  for (size_t call = 0; call < calls; ++call) {
    if (is_baseline) {
      expected = baseline.Record(flow_id, points[next]) && expected;
    } else if (!handles.empty()) {
      handles[next].Trace(true);
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
  if (kSubjects.count(subject) == 0) {
    std::cerr << "usage: instruction_count Baseline|Trace|TraceHandle|TraceCallbackEvent|"
                 "TraceNodeEvent|DirectPublish <calls>\n";
    return 2;
  }
  const size_t calls = std::strtoul(argv[2], nullptr, 10);

  rclcpp::init(1, argv);
  {
    // A node only where one is published on: it starts DDS's own threads.
    const bool publishes = subject == "TraceNodeEvent" || subject == "DirectPublish";
    // The same flow table as the benchmark program, so lookups cost the same.
    EngineSetup setup(publishes ? std::make_shared<rclcpp::Node>("kestrune_instruction_count")
                                : nullptr);
    setup.AddCheckFlows();
    BaselineRecorder baseline(setup.FlowIds(), EngineSetup::PointIds());
    MeasuredCalls(subject, setup, baseline, calls);
  }
  rclcpp::shutdown();
  return 0;
}
