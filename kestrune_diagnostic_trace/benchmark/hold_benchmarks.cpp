// How long the engine's own threads hold the engine mutex with 10,000 flows:
// the heartbeat beating every millisecond (its queue trimmed every 500 beats)
// and flow health on /diagnostics every 100 ms, while this thread traces as fast as it can. The
// holds are the figures; the Trace latencies beside them mostly show the scheduler of a busy
// machine, so they carry no target.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <rclcpp/rclcpp.hpp>

#include "flow_trace/lock_holds.hpp"
#include "support/temp_file.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using kestrune::trace::detail::DiagnosticsHolds;
using kestrune::trace::detail::HeartbeatHolds;

constexpr int kFlows = 10000;

std::string ManyFlows() {
  std::string yaml =
      "diagnostics: {enabled: true, period_ms: 100}\n"
      "workflows:\n"
      "  - {flow_id: heartbeat, duration_ms: 1}\n";
  for (int flow = 0; flow < kFlows; ++flow) {
    yaml += "  - flow_id: flow_" + std::to_string(flow) +
            "\n    flow_points: [{point_id: step_0_reached}, {point_id: step_1_reached}]\n";
  }
  return yaml;
}

/// Trace latencies in 10 ns buckets up to 1 ms, the rest kept as they are.
class Latencies {
 public:
  void Add(Clock::duration latency) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(latency).count();
    const auto bucket = static_cast<size_t>(ns / kBucketNs);
    if (bucket < buckets_.size()) {
      ++buckets_[bucket];
    } else {
      beyond_.push_back(ns);
    }
    ++count_;
  }

  /// The latency below which `fraction` of the calls stayed, in ns.
  double Percentile(double fraction) {
    const auto wanted = static_cast<uint64_t>(fraction * static_cast<double>(count_));
    uint64_t seen = 0;
    for (size_t bucket = 0; bucket < buckets_.size(); ++bucket) {
      seen += buckets_[bucket];
      if (seen > wanted) {
        return static_cast<double>((bucket + 1) * kBucketNs);
      }
    }
    std::sort(beyond_.begin(), beyond_.end());
    return static_cast<double>(beyond_.at(std::min<size_t>(wanted - seen, beyond_.size() - 1)));
  }

  double Longest() {
    if (!beyond_.empty()) {
      return static_cast<double>(*std::max_element(beyond_.begin(), beyond_.end()));
    }
    for (size_t bucket = buckets_.size(); bucket-- > 0;) {
      if (buckets_[bucket] != 0) {
        return static_cast<double>((bucket + 1) * kBucketNs);
      }
    }
    return 0.0;
  }

 private:
  static constexpr int64_t kBucketNs = 10;
  std::vector<uint64_t> buckets_ = std::vector<uint64_t>(100000);
  std::vector<int64_t> beyond_;
  uint64_t count_{0};
};

}  // namespace

int main(int argc, char** argv) {
  setenv("SPDLOG_LEVEL", "error", 0);
  benchmark::Initialize(&argc, argv);
  rclcpp::init(argc, argv);
  int status = 0;
  {
    auto node = std::make_shared<rclcpp::Node>("kestrune_hold_benchmarks");
    const kestrune_test::TempFile file(ManyFlows());
    auto* engine = kestrune::trace::FlowTrace::GetInstance();
    engine->Init(file.path(), node);

    // One iteration is one Trace; the time is the run's, the figures are counters.
    benchmark::RegisterBenchmark(
        "LockHolds/10000_flows",
        [engine](benchmark::State& state) {
          HeartbeatHolds().Clear();
          DiagnosticsHolds().Clear();
          Latencies latencies;
          const std::string flow_id = "flow_" + std::to_string(kFlows / 2);
          const std::string points[] = {"step_0_reached", "step_1_reached"};
          size_t next = 0;
          for (auto _ : state) {
            const Clock::time_point start = Clock::now();
            engine->Trace(flow_id, points[next], true);
            latencies.Add(Clock::now() - start);
            if (++next == 2) {
              next = 0;
              engine->ResetFlow(flow_id);
            }
          }
          for (const auto& [name, holds] :
               {std::pair<const char*, kestrune::trace::detail::LockHolds&>{"heartbeat",
                                                                            HeartbeatHolds()},
                {"diagnostics", DiagnosticsHolds()}}) {
            const std::string key = name;
            state.counters[key + "_holds"] = static_cast<double>(holds.holds);
            state.counters[key + "_longest_us"] = static_cast<double>(holds.longest_ns) / 1e3;
            state.counters[key + "_longest_cpu_us"] =
                static_cast<double>(holds.longest_cpu_ns) / 1e3;
          }
          state.counters["trace_p50_ns"] = latencies.Percentile(0.5);
          state.counters["trace_p99_ns"] = latencies.Percentile(0.99);
          state.counters["trace_p999_ns"] = latencies.Percentile(0.999);
          state.counters["trace_longest_ns"] = latencies.Longest();
        })
        ->MinTime(3.0)
        ->UseRealTime();
    // A filter that matches nothing is a failed run, not an empty one.
    status = benchmark::RunSpecifiedBenchmarks() == 0 ? 1 : 0;
    benchmark::Shutdown();
    // The threads stop with the engine's period of 0, before the node goes.
    const kestrune_test::TempFile quiet("workflows:\n  - {flow_id: heartbeat, duration_ms: 0}\n");
    engine->Init(quiet.path(), std::shared_ptr<rclcpp::Node>());
  }
  rclcpp::shutdown();
  return status;
}
