// flow_monitor under load: how many events a second its ingest path takes,
// with and without its record, how long a level change takes to reach a
// polling page while 5,000 events a second arrive and are recorded, and how
// soon a new request is answered while slow clients hold connections.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "flow_model.hpp"
#include "flow_record.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "kestrune_diagnostic_trace/flow_report.hpp"
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
    event.kind = static_cast<uint8_t>(kestrune::trace::report::EventKind::kVerdict);
    event.duration_ms = 800;
  } else {
    event.id = static_cast<uint32_t>(flow * 100 + step + 1);
    event.msg = "Status OK: p" + std::to_string(step + 1);
    event.point_id = "p" + std::to_string(step + 1);
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

// Readers that take the changes as a page's polls do, twice a second.
class PageReaders {
 public:
  PageReaders(FlowModel& model, int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this, &model] {
        uint64_t since = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(500), [this] { return stop_; })) {
          lock.unlock();
          since = model.Changes(since).second;
          lock.lock();
        }
      });
    }
  }
  ~PageReaders() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) {
      thread.join();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_{false};
  std::vector<std::thread> threads_;
};

// A record of what the model sees, in a file of its own under /tmp, removed
// afterwards; rotated so that a long run cannot fill the disk.
class Recording {
 public:
  explicit Recording(FlowModel& model) {
    char pattern[] = "/tmp/kestrune_bench_record_XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd >= 0) {
      close(fd);
    }
    path_ = pattern;
    kestrune::monitor::RecordOptions options;
    options.path = path_;
    options.max_bytes = 64ULL * 1024 * 1024;
    options.keep = 1;
    recorder_ =
        std::make_unique<kestrune::monitor::FlowRecorder>(options, [](const std::string&) {});
    model.SetObserver(
        [this](const kestrune::monitor::ModelRecord& record) { recorder_->Record(record); });
  }
  ~Recording() {
    recorder_.reset();
    std::remove(path_.c_str());
    std::remove((path_ + ".1").c_str());
  }
  uint64_t dropped() const { return recorder_->dropped(); }

 private:
  std::string path_;
  std::unique_ptr<kestrune::monitor::FlowRecorder> recorder_;
};

// Events the model takes a second, with 0 or 2 pages reading at the same
// time, without and with a record written (wall-clock time).
void MonitorIngest(benchmark::State& state) {
  FlowModel model(FiftyFlows());
  std::unique_ptr<Recording> recording;
  if (state.range(1) != 0) {
    recording = std::make_unique<Recording>(model);
  }
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
BENCHMARK(MonitorIngest)
    ->ArgNames({"pages", "record"})
    ->ArgsProduct({{0, 2}, {0, 1}})
    ->UseRealTime();

/// A page as the browser runs it: asks for what changed every 500 ms on a
/// connection kept open, and notes when a token first shows in an answer.
class PollingPage {
 public:
  explicit PollingPage(int port) : connection_(port) {
    thread_ = std::thread([this] {
      uint64_t since = 0;
      while (!stop_) {
        connection_.Send("GET /api/flows?since=" + std::to_string(since) +
                         " HTTP/1.1\r\nHost: bench\r\n\r\n");
        const std::string response = connection_.ReadResponse(std::chrono::seconds(5));
        const size_t at = response.find("\"version\":");
        if (at != std::string::npos) {
          since = std::stoull(response.substr(at + 10));
        }
        {
          std::lock_guard<std::mutex> lock(mutex_);
          seen_ += response;
        }
        seen_cv_.notify_all();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
      }
    });
  }
  ~PollingPage() {
    stop_ = true;
    thread_.join();
  }

  /// Waits until `token` was seen (true) or `timeout` passes; forgets what was seen.
  bool WaitFor(const std::string& token, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool seen =
        seen_cv_.wait_for(lock, timeout, [&] { return seen_.find(token) != std::string::npos; });
    seen_.clear();
    return seen;
  }

 private:
  kestrune_test::RawConnection connection_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable seen_cv_;
  std::string seen_;
  std::thread thread_;
};

// Time from a level change to a polling page, while a feeder delivers 5,000
// events a second spread over the 50 flows and every one is recorded.
void MonitorLevelToPage(benchmark::State& state) {
  FlowModel model(FiftyFlows());
  Recording recording(model);
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

  PollingPage page(server.port());
  uint64_t change = 0;
  double worst = 0.0;
  for (auto _ : state) {
    // Changes come at any moment of the page's half-second, not in step with
    // it; the wait is before the clock starts.
    std::this_thread::sleep_for(std::chrono::milliseconds((change * 211) % 500));
    const std::string token = "change " + std::to_string(++change);
    const Clock::time_point sent = Clock::now();
    model.AddStatus(Status(0, change % 2 ? 2 : 0, token));
    const bool seen = page.WaitFor(token, std::chrono::seconds(5));
    const double seconds = std::chrono::duration<double>(Clock::now() - sent).count();
    if (!seen) {
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
  state.counters["record_dropped"] = static_cast<double>(recording.dropped());
}
BENCHMARK(MonitorLevelToPage)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

// Time a new GET /api/flows takes while 100 clients each trickle a header
// byte every 500 ms (reconnecting when cut) and 8 pages poll.
void MonitorSlowClients(benchmark::State& state) {
  constexpr int kSlow = 100;
  constexpr int kPages = 8;
  FlowModel model(FiftyFlows());
  kestrune::monitor::ServerOptions options;
  options.port = 0;
  kestrune::monitor::MonitorServer server(model, options);
  kestrune_test::SlowClients slow(server.port(), kSlow, std::chrono::milliseconds(500));
  std::vector<std::unique_ptr<PollingPage>> pages;
  for (int i = 0; i < kPages; ++i) {
    pages.push_back(std::make_unique<PollingPage>(server.port()));
  }
  double worst = 0.0;
  for (auto _ : state) {
    const Clock::time_point sent = Clock::now();
    kestrune_test::RawConnection fresh(server.port());
    fresh.Send("GET /api/flows HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n");
    const bool answered = kestrune_test::StatusOf(fresh.ReadAll(std::chrono::seconds(5))) == 200;
    const double seconds = std::chrono::duration<double>(Clock::now() - sent).count();
    if (!answered) {
      state.SkipWithError("GET /api/flows was not answered within 5 s");
      break;
    }
    worst = std::max(worst, seconds);
    state.SetIterationTime(seconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  pages.clear();
  state.counters["worst_ms"] = worst * 1000.0;
}
// 80 requests over about 8 s: each slow client is cut at the 5 s deadline once at least.
BENCHMARK(MonitorSlowClients)->UseManualTime()->Iterations(80)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
