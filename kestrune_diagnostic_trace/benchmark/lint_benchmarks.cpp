// Checking a large flow file against loading it: kestrune_flow lint should cost
// at most twice what Init does on the same file. Read "Lint" as a ratio to
// "Init" of the same run. Logging is suppressed unless SPDLOG_LEVEL says otherwise,
// so Init is timed at its fastest.
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>

#include <kestrune_diagnostic_trace/flow_config_lint.hpp>
#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "support/temp_file.hpp"

namespace {

constexpr int kFlows = 10000;

/// A file of `kFlows` ordered flows over ten topics, five points each, every
/// point with its own event id on its topic; it lints clean.
std::string GeneratedConfig() {
  std::string yaml = "workflows:\n";
  for (int flow = 0; flow < kFlows; ++flow) {
    const std::string id = std::to_string(flow);
    yaml += "  - flow_id: flow_" + id + "\n    flow_name: Flow " + id +
            "\n    diag_topic: /bench/topic_" + std::to_string(flow % 10) +
            "\n    event_id: " + std::to_string(1000000 + flow) + "\n    flow_points:\n";
    for (int point = 0; point < 5; ++point) {
      yaml += "      - {point_id: p" + std::to_string(point) +
              ", event_id: " + std::to_string(flow * 10 + point + 1) +
              (point == 2 ? ", optional: true" : "") +
              (point == 3 ? ", repeat_cnt: 2, timeout_ms: 100, on_timeout: true" : "") + "}\n";
    }
  }
  return yaml;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("SPDLOG_LEVEL", "error", 0);
  benchmark::Initialize(&argc, argv);
  const kestrune_test::TempFile file(GeneratedConfig());
  if (kestrune::trace::HasErrors(kestrune::trace::LintFlowConfigFile(file.path()), true)) {
    return 1;
  }
  benchmark::RegisterBenchmark("Init/10000_flows", [&file](benchmark::State& state) {
    auto* engine = kestrune::trace::FlowTrace::GetInstance();
    for (auto _ : state) {
      engine->Init(file.path(), std::shared_ptr<rclcpp::Node>());
    }
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Lint/10000_flows", [&file](benchmark::State& state) {
    for (auto _ : state) {
      benchmark::DoNotOptimize(kestrune::trace::LintFlowConfigFile(file.path()));
    }
  })->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
