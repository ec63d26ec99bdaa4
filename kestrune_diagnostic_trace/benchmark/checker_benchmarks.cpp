// flow_checker's figures: how many points a second it takes in, how long a
// point takes from a sender's Trace to the verdict event, and what a sender's
// Trace costs against a plain publish of the same message.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <kestrune_diagnostic_trace/point_sender.hpp>
#include <rclcpp/rclcpp.hpp>

#include "checker_node.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::checker::CheckerNode;
using kestrune::checker::CheckerOptions;
using kestrune::trace::DiagnosticEvent;
using kestrune::trace::FlowPoint;
using kestrune::trace::PointSender;
using Clock = std::chrono::steady_clock;

// Runs of five points, each checked by its last one.
constexpr char kFlows[] = R"(
workflows:
  - flow_id: bench
    diag_topic: /checker_bench/events
    check_at_end: true
    flow_points: [{point_id: a}, {point_id: b}, {point_id: c}, {point_id: d}, {point_id: e}]
)";
const char* const kPoints[] = {"a", "b", "c", "d", "e"};
constexpr int kBatch = 1000;

/// A checker in this process on its own node, spun on a thread of its own.
class Checker {
 public:
  explicit Checker(std::chrono::milliseconds window) : file_(kFlows) {
    options_.config_path = file_.path();
    options_.reorder_window = window;
    checker_ = std::make_unique<CheckerNode>(
        options_, kestrune::trace::ParseFlowConfig(std::string(kFlows)));
    spinner_ = std::thread([this] {
      while (!stop_) {
        rclcpp::spin_some(checker_->node());
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
    });
  }
  ~Checker() {
    stop_ = true;
    spinner_.join();
  }

  CheckerNode& node() { return *checker_; }

 private:
  kestrune_test::TempFile file_;
  CheckerOptions options_;
  std::unique_ptr<CheckerNode> checker_;
  std::atomic<bool> stop_{false};
  std::thread spinner_;
};

bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (Clock::now() > deadline) {
      return false;
    }
    std::this_thread::yield();
  }
  return true;
}

// Points a second through the whole checker: DDS in one process, the
// subscription, the reorder window (0 ms) and the engine, verdicts included.
void CheckerIngest(benchmark::State& state) {
  Checker checker(std::chrono::milliseconds(0));
  auto node = std::make_shared<rclcpp::Node>("ingest_sender");
  PointSender sender(*node);
  if (!WaitUntil([&] { return sender.CheckerCount() != 0; })) {
    state.SkipWithError("the checker never matched");
    return;
  }
  uint64_t sent = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      sender.Trace("bench", kPoints[sent++ % 5], true);
    }
    if (!WaitUntil([&] { return checker.node().counts().released >= sent; })) {
      state.SkipWithError("points went missing");
      break;
    }
  }
  state.counters["lost"] = static_cast<double>(checker.node().counts().lost);
  state.SetItemsProcessed(static_cast<int64_t>(sent));
}
BENCHMARK(CheckerIngest)->UseRealTime()->Unit(benchmark::kMillisecond);

// From the sender's Trace of a run's last point to its verdict event, with the
// reorder window given in ms.
void TraceToVerdict(benchmark::State& state) {
  Checker checker(std::chrono::milliseconds(state.range(0)));
  auto node = std::make_shared<rclcpp::Node>("latency_sender");
  PointSender sender(*node);
  std::atomic<uint64_t> verdicts{0};
  auto listener = std::make_shared<rclcpp::Node>("latency_listener");
  auto subscription = listener->create_subscription<DiagnosticEvent>(
      "/checker_bench/events", 100, [&](const DiagnosticEvent&) { ++verdicts; });
  if (!WaitUntil([&] { return sender.CheckerCount() != 0 && subscription->get_publisher_count(); })) {
    state.SkipWithError("the checker never matched");
    return;
  }
  std::vector<double> samples;
  for (auto _ : state) {
    for (int i = 0; i < 4; ++i) {
      sender.Trace("bench", kPoints[i], true);
    }
    const uint64_t before = verdicts;
    const auto start = Clock::now();
    sender.Trace("bench", kPoints[4], true);
    const bool arrived = WaitUntil([&] {
      rclcpp::spin_some(listener);
      return verdicts > before;
    });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!arrived) {
      state.SkipWithError("no verdict within 10 s");
      break;
    }
    samples.push_back(seconds);
    state.SetIterationTime(seconds);
  }
  std::sort(samples.begin(), samples.end());
  if (!samples.empty()) {
    state.counters["p50_ms"] = samples[samples.size() / 2] * 1e3;
    state.counters["p99_ms"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)] * 1e3;
  }
}
BENCHMARK(TraceToVerdict)->Arg(0)->Arg(50)->Iterations(100)->UseManualTime()->Unit(
    benchmark::kMillisecond);

/// A publisher with one reader matched in this process, as a checker would be.
struct MatchedTopic {
  explicit MatchedTopic(rclcpp::Node& node, const std::string& topic)
      : subscription(node.create_subscription<FlowPoint>(topic, 1, [](const FlowPoint&) {})) {}
  std::shared_ptr<rclcpp::Subscription<FlowPoint>> subscription;
};

// A sender's Trace: numbering, stamping and the mutex around them, then publish.
void SenderTrace(benchmark::State& state) {
  auto node = std::make_shared<rclcpp::Node>("trace_sender");
  MatchedTopic reader(*node, "/checker_bench/trace");
  PointSender sender(*node, "/checker_bench/trace");
  for (auto _ : state) {
    sender.Trace("pick_and_place", "grasp", true);
  }
}
BENCHMARK(SenderTrace);

// The same message filled by hand, as a node without a sender would, and published.
void PlainPublish(benchmark::State& state) {
  auto node = std::make_shared<rclcpp::Node>("plain_sender");
  MatchedTopic reader(*node, "/checker_bench/plain");
  auto publisher = node->create_publisher<FlowPoint>("/checker_bench/plain",
                                                     rclcpp::QoS(PointSender::kQueueDepth));
  uint64_t sequence = 0;
  for (auto _ : state) {
    FlowPoint message;
    message.stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
    message.flow_id = "pick_and_place";
    message.point_id = "grasp";
    message.success = true;
    message.source = "/plain_sender";
    message.sequence = ++sequence;
    publisher->publish(message);
  }
}
BENCHMARK(PlainPublish);

}  // namespace

int main(int argc, char** argv) {
  rclcpp::init(0, nullptr);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  rclcpp::shutdown();
  return 0;
}
