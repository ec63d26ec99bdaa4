// flow_monitor under load: how many events a second its ingest path takes,
// and how long a level change takes to reach a page while 5,000 events a
// second arrive.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "flow_model.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "monitor_server.hpp"
#include "support/raw_http.hpp"

namespace {

using kestrune::monitor::EventReport;
using kestrune::monitor::FlowModel;
using kestrune::monitor::StatusReport;
using Clock = std::chrono::steady_clock;

constexpr int kFlows = 50;
constexpr int kPointsPerFlow = 8;
constexpr int kEventsPerSecond = 5000;

kestrune::trace::ParsedFlowConfig FiftyFlows() {
  std::string text = "workflows:\n";
  for (int f = 0; f < kFlows; ++f) {
    text += "  - flow_id: flow_" + std::to_string(f) + "\n    diag_topic: /bench/flow_" +
            std::to_string(f) + "\n    event_id: " + std::to_string(f * 100) +
            "\n    flow_points:\n";
    for (int p = 1; p <= kPointsPerFlow; ++p) {
      text += "      - {point_id: p" + std::to_string(p) +
              ", event_id: " + std::to_string(f * 100 + p) + "}\n";
    }
  }
  return kestrune::trace::ParseFlowConfig(text);
}

// The i-th event of a stream that walks every flow through its points and a verdict.
EventReport NthEvent(uint64_t i) {
  const int flow = static_cast<int>(i % kFlows);
  const int step = static_cast<int>((i / kFlows) % (kPointsPerFlow + 1));
  EventReport event;
  event.stamp_sec = static_cast<int32_t>(i / kEventsPerSecond);
  event.source_id = "flow_" + std::to_string(flow);
  if (step == kPointsPerFlow) {
    event.id = static_cast<uint32_t>(flow * 100);
    event.msg = "Succeed flow: " + event.source_id;
  } else {
    event.id = static_cast<uint32_t>(flow * 100 + step + 1);
    event.msg = "Status OK: p" + std::to_string(step + 1);
  }
  return event;
}

StatusReport Status(int flow, uint8_t level, const std::string& message) {
  StatusReport status;
  status.level = level;
  status.name = "bench: flow_" + std::to_string(flow);
  status.message = message;
  status.values = {{"flow id", "flow_" + std::to_string(flow)}, {"state", "running"}};
  return status;
}

// Readers that take the changes as a page's stream does, 10 times a second.
class PageReaders {
 public:
  PageReaders(FlowModel& model, int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this, &model] {
        uint64_t since = 0;
        while (!stop_) {
          since = model.Changes(since).second;
          model.WaitForChange(UINT64_MAX, Clock::now() + std::chrono::milliseconds(100),
                              [this] { return stop_.load(); });
        }
      });
    }
  }
  ~PageReaders() {
    stop_ = true;
    for (auto& thread : threads_) {
      thread.join();
    }
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

// Events the model takes a second, with 0 or 2 pages reading at the same time.
void MonitorIngest(benchmark::State& state) {
  FlowModel model(FiftyFlows());
  PageReaders readers(model, static_cast<int>(state.range(0)));
  std::vector<EventReport> events;
  for (uint64_t i = 0; i < 4500; ++i) {
    events.push_back(NthEvent(i));
  }
  size_t next = 0;
  for (auto _ : state) {
    model.AddEvent(events[next]);
    next = next + 1 == events.size() ? 0 : next + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(MonitorIngest)->Arg(0)->Arg(2)->UseRealTime();

// Time from a level change to its arrival in a page's event stream, while a
// feeder delivers 5,000 events a second spread over the 50 flows.
void MonitorLevelToPage(benchmark::State& state) {
  FlowModel model(FiftyFlows());
  kestrune::monitor::ServerOptions options;
  options.port = 0;
  kestrune::monitor::MonitorServer server(model, options);

  std::atomic<bool> stop{false};
  std::atomic<uint64_t> fed{0};
  const Clock::time_point start = Clock::now();
  std::thread feeder([&] {
    const auto gap = std::chrono::microseconds(1000000 / kEventsPerSecond);
    for (uint64_t i = 0; !stop; ++i) {
      std::this_thread::sleep_until(start + gap * i);
      model.AddEvent(NthEvent(i));
      fed = i + 1;
    }
  });

  kestrune_test::RawConnection page(server.port());
  page.Send("GET /api/stream HTTP/1.1\r\nHost: bench\r\n\r\n");
  page.ReadUntil("\n\n");
  uint64_t change = 0;
  double worst = 0.0;
  for (auto _ : state) {
    page.Forget();
    const std::string token = "change " + std::to_string(++change);
    const Clock::time_point sent = Clock::now();
    model.AddStatus(Status(0, change % 2 ? 2 : 0, token));
    const std::string& received = page.ReadUntil(token, std::chrono::seconds(5));
    const double seconds = std::chrono::duration<double>(Clock::now() - sent).count();
    if (received.find(token) == std::string::npos) {
      state.SkipWithError("the level change did not reach the page within 5 s");
      break;
    }
    worst = std::max(worst, seconds);
    state.SetIterationTime(seconds);
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  stop = true;
  feeder.join();
  state.counters["worst_ms"] = worst * 1000.0;
  // Events the feeder was behind its schedule when the run ended: a backlog grows here.
  state.counters["backlog_events"] =
      std::max(0.0, elapsed * kEventsPerSecond - static_cast<double>(fed.load()));
  state.counters["fed_per_s"] = static_cast<double>(fed.load()) / elapsed;
}
BENCHMARK(MonitorLevelToPage)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
