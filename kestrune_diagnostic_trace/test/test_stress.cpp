// Eight threads on one engine at once, tracing, checking, resetting, registering
// and removing flows and handlers, while a ninth re-initialises it with a 1 ms
// heartbeat and events go to a publish callback and to a node. Made to run
// under ThreadSanitizer; KESTRUNE_STRESS_SECONDS sets the duration (default 20).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include <spdlog/sinks/sink.h>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <kestrune_diagnostic_trace/logger.hpp>
#include <rclcpp/rclcpp.hpp>

#include "support/engine.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::DiagnosticEvent;
using kestrune::trace::FlowCheckResult;
using kestrune::trace::FlowCheckStatus;
using kestrune::trace::FlowHandler;
using kestrune::trace::FlowQueue;
using kestrune::trace::FlowTrace;
using kestrune::trace::PublishCallback;
using kestrune::trace::TraceFlowCfg;
using kestrune::trace::TracePoint;
using kestrune::trace::TracePointCfg;
using kestrune_test::Engine;
using kestrune_test::TempFile;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kWorkers = 8;
constexpr size_t kPrivatePoints = 5;
// Enough for the threads to finish their last operation, also under sanitizers.
constexpr std::chrono::seconds kGrace{60};

std::chrono::seconds StressDuration() {
  const char* seconds = std::getenv("KESTRUNE_STRESS_SECONDS");
  return std::chrono::seconds(seconds != nullptr ? std::atoi(seconds) : 20);
}

std::string Workflows(const std::string& heartbeat) {
  return R"(
workflows:
  - flow_id: shared_ordered
    diag_topic: /stress/ordered
    flow_points:
      - {point_id: a, event_id: 1, on_success: true}
      - {point_id: b, event_id: 2, repeat_cnt: 3, repeat_max: 5, timeout_ms: 1, on_timeout: true}
      - {point_id: c, event_id: 3, optional: true}
      - {point_id: d, event_id: 4, on_success: true}
  - flow_id: shared_unordered
    diag_topic: /stress/unordered
    check_order: false
    event_id: 20
    flow_points:
      - {point_id: a, event_id: 21, on_success: true}
      - {point_id: b, event_id: 22, optional: true}
      - {point_id: c, event_id: 23}
  - flow_id: shared_silent
    flow_points: [{point_id: a}, {point_id: b}]
)" + heartbeat;
}

const char kBeating[] = R"(
  - flow_id: heartbeat
    diag_topic: /stress/heartbeat
    duration_ms: 1
    flow_points:
      - {point_id: heartbeat, event_id: 9, on_success: true, repeat_cnt: 2, repeat_max: 1}
)";
const char kStopped[] = "  - {flow_id: heartbeat, duration_ms: 0}\n";

const std::vector<std::string> kSharedFlows = {
    "shared_ordered", "shared_unordered", "shared_silent", "code_0", "code_1", "code_2"};
const std::vector<std::string> kPointIds = {"a", "b", "c", "d", "x"};

/// Counts the lines the engine logs; nothing is written anywhere.
class CountingSink : public spdlog::sinks::sink {
 public:
  static CountingSink& Instance() {
    static const std::shared_ptr<CountingSink> sink = [] {
      auto created = std::make_shared<CountingSink>();
      kestrune::Logger::Instance("spdlog").spdlog_logger()->sinks().push_back(created);
      return created;
    }();
    return *sink;
  }

  void log(const spdlog::details::log_msg& msg) override {
    const std::string payload(msg.payload.data(), msg.payload.size());
    ++lines;
    if (payload.find("refused: called from a flow handler or publish callback") !=
        std::string::npos) {
      ++refusals;
    }
    if (payload.find("Failed to parse") != std::string::npos ||
        payload.find("Heartbeat trace failed") != std::string::npos) {
      ++unexpected;
    }
    if (payload.find("heartbeat duration: 0, heartbeat run: false") != std::string::npos) {
      ++heartbeat_stopped;
    }
  }
  void flush() override {}
  void set_pattern(const std::string& /*pattern*/) override {}
  void set_formatter(std::unique_ptr<spdlog::formatter> /*formatter*/) override {}

  std::atomic<uint64_t> lines{0};
  std::atomic<uint64_t> refusals{0};
  std::atomic<uint64_t> unexpected{0};
  std::atomic<uint64_t> heartbeat_stopped{0};
};

/// Shared by readers that inspect a flow queue and exclusive for Init and
/// ResetAllFlows, which replace or empty every queue. Writers go first, so the
/// re-initialising thread is not starved by eight readers.
class Gate {
 public:
  void lock() {
    std::unique_lock<std::mutex> guard(mutex_);
    ++writers_waiting_;
    changed_.wait(guard, [this] { return !writer_ && readers_ == 0; });
    --writers_waiting_;
    writer_ = true;
  }
  void unlock() {
    std::lock_guard<std::mutex> guard(mutex_);
    writer_ = false;
    changed_.notify_all();
  }
  void lock_shared() {
    std::unique_lock<std::mutex> guard(mutex_);
    changed_.wait(guard, [this] { return !writer_ && writers_waiting_ == 0; });
    ++readers_;
  }
  void unlock_shared() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (--readers_ == 0) {
      changed_.notify_all();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int readers_{0};
  int writers_waiting_{0};
  bool writer_{false};
};

/// Everything the threads share and count.
struct Stress {
  Gate gate;
  // Odd while an operation that empties every queue runs; bumped before and after.
  std::atomic<uint64_t> generation{0};
  std::atomic<bool> stop{false};

  std::atomic<uint64_t> operations{0};
  std::atomic<uint64_t> traces{0};
  std::atomic<uint64_t> checks{0};
  std::atomic<uint64_t> inits{0};
  std::atomic<uint64_t> verified_epochs{0};
  std::atomic<uint64_t> interrupted_epochs{0};
  std::atomic<uint64_t> handler_calls{0};
  std::atomic<uint64_t> callback_events{0};
  std::atomic<uint64_t> node_events{0};

  std::mutex failures_mutex;
  std::vector<std::string> failures;

  void Fail(const std::string& what) {
    std::lock_guard<std::mutex> lock(failures_mutex);
    if (failures.size() < 20) {
      failures.push_back(what);
    }
  }

  /// Runs `empty_all` (Init or ResetAllFlows) so that readers never see it half done.
  template <typename Operation>
  void EmptyingAll(Operation empty_all) {
    std::unique_lock<Gate> exclusive(gate);
    ++generation;
    empty_all();
    ++generation;
  }
};

std::shared_ptr<TraceFlowCfg> CodeFlow(const std::string& flow_id) {
  auto flow = std::make_shared<TraceFlowCfg>();
  flow->flow_id = flow_id;
  flow->check_order = flow_id != "code_1";
  for (const char* point_id : {"a", "b", "c"}) {
    flow->flow_points.push_back(std::make_shared<TracePointCfg>(point_id));
  }
  return flow;
}

/// One worker: its own flow, which only it traces, and random work on the shared ones.
///
/// The own flow is traced in epochs: register it, trace a few prepared points,
/// then, unless something emptied every queue since the registration, require
/// the queue to hold exactly those points, in order, indexed 0, 1, 2, ...
class Worker {
 public:
  Worker(Stress& stress, int number)
      : stress_(stress), own_flow_("private_" + std::to_string(number)), random_(number + 1) {}

  void Run() {
    Engine()->RegisterFlowHandler(
        own_flow_, [this](const std::string&, const std::shared_ptr<FlowCheckResult>&) {
          ++own_handler_calls_;
        });
    while (!stress_.stop) {
      if (Chance(2)) {
        OwnFlowStep();
      } else {
        SharedStep();
      }
      ++stress_.operations;
    }
  }

 private:
  bool Chance(int one_in) { return std::uniform_int_distribution<int>(1, one_in)(random_) == 1; }

  template <typename T>
  const T& Pick(const std::vector<T>& values) {
    return values[std::uniform_int_distribution<size_t>(0, values.size() - 1)(random_)];
  }

  void OwnFlowStep() {
    if (kept_.empty() && !tracing_) {
      epoch_generation_ = stress_.generation;
      auto flow = std::make_shared<TraceFlowCfg>();
      flow->flow_id = own_flow_;
      for (size_t point = 0; point < kPrivatePoints; ++point) {
        flow->flow_points.push_back(std::make_shared<TracePointCfg>("p" + std::to_string(point)));
        flow->flow_points.back()->is_critical = true;
      }
      flow->flow_points.front()->event_id = 100;
      flow->flow_points.front()->on_success = true;
      Engine()->RegisterTraceFlow(flow);
      epoch_length_ = std::uniform_int_distribution<size_t>(1, 12)(random_);
      tracing_ = true;
      return;
    }
    auto point =
        std::make_shared<TracePoint>("p" + std::to_string(kept_.size() % kPrivatePoints), true);
    if (Chance(4)) {
      point->metadata.emplace("worker", own_flow_);
    }
    Engine()->Trace(own_flow_, point);
    ++stress_.traces;
    kept_.push_back(point);
    if (kept_.size() < epoch_length_) {
      return;
    }
    VerifyEpoch();
    kept_.clear();
    tracing_ = false;
    if (Chance(3)) {
      Engine()->RemoveTraceFlow(own_flow_);
    }
  }

  void VerifyEpoch() {
    std::shared_lock<Gate> shared(stress_.gate);
    if (stress_.generation != epoch_generation_) {
      ++stress_.interrupted_epochs;
      return;
    }
    const FlowQueue& queue = Engine()->GetTracePoints(own_flow_);
    if (queue.size() != kept_.size()) {
      stress_.Fail(own_flow_ + ": " + std::to_string(queue.size()) + " points recorded, " +
                   std::to_string(kept_.size()) + " traced");
      return;
    }
    for (size_t i = 0; i < kept_.size(); ++i) {
      if (queue[i] != kept_[i] || kept_[i]->index != i) {
        stress_.Fail(own_flow_ + ": point " + std::to_string(i) + " is not the one traced there" +
                     " or has index " + std::to_string(kept_[i]->index));
        return;
      }
    }
    const uint64_t calls_before = own_handler_calls_;
    const auto result = Engine()->CheckFlow(own_flow_);
    ++stress_.checks;
    const size_t length = kept_.size();
    const FlowCheckStatus expected = length == kPrivatePoints  ? FlowCheckStatus::SUCCESS
                                     : length < kPrivatePoints ? FlowCheckStatus::MISSING_POINT
                                                               : FlowCheckStatus::INVALID_POINT;
    if (result->status != expected || own_handler_calls_ != calls_before + 1) {
      stress_.Fail(own_flow_ + ": check of " + std::to_string(length) + " points gave status " +
                   std::to_string(static_cast<uint32_t>(result->status)) + ", handler calls " +
                   std::to_string(own_handler_calls_ - calls_before));
    }
    const int64_t span = kept_.back()->timestamp_ms - kept_.front()->timestamp_ms;
    if (Engine()->GetFlowDuration(own_flow_) != static_cast<uint64_t>(span > 0 ? span : 0)) {
      stress_.Fail(own_flow_ + ": duration differs from the points' time stamps");
    }
    ++stress_.verified_epochs;
  }

  FlowHandler RandomHandler() {
    switch (std::uniform_int_distribution<int>(0, 2)(random_)) {
      case 0:
        return [this](const std::string&, const std::shared_ptr<FlowCheckResult>& result) {
          ++stress_.handler_calls;
          if (!result || static_cast<uint32_t>(result->status) > 6) {
            stress_.Fail("handler got a bad result");
          }
        };
      case 1:
        // Calling back into the engine from a handler is refused, not a deadlock.
        return [this](const std::string& flow_id, const std::shared_ptr<FlowCheckResult>&) {
          ++stress_.handler_calls;
          Engine()->Trace(flow_id, "a", true);
        };
      default:
        return FlowHandler();
    }
  }

  void SharedStep() {
    const std::string& flow_id = Pick(kSharedFlows);
    switch (std::uniform_int_distribution<int>(0, 11)(random_)) {
      case 0:
      case 1:
      case 2:
        Engine()->Trace(flow_id, Pick(kPointIds), !Chance(10));
        ++stress_.traces;
        break;
      case 3:
        Engine()->Trace(flow_id, Pick(kPointIds), true, {{"key", "value"}, {"worker", own_flow_}});
        ++stress_.traces;
        break;
      case 4: {
        const auto result = Engine()->CheckFlow(flow_id);
        ++stress_.checks;
        if (!result || static_cast<uint32_t>(result->status) > 6) {
          stress_.Fail("CheckFlow(" + flow_id + ") gave no valid result");
        }
        break;
      }
      case 5:
        Engine()->ResetFlow(Chance(20) ? "heartbeat" : flow_id);
        break;
      case 6:
        Engine()->GetFlowDuration(flow_id);
        break;
      case 7: {
        const auto flow = Engine()->GetTraceFlowCfg(flow_id);
        if (flow && flow->flow_id != flow_id) {
          stress_.Fail("GetTraceFlowCfg(" + flow_id + ") gave " + flow->flow_id);
        }
        Engine()->GetTraceFlows();
        break;
      }
      case 8:
        Engine()->RegisterTraceFlow(CodeFlow("code_" + std::to_string(random_() % 3)));
        break;
      case 9:
        Engine()->RemoveTraceFlow("code_" + std::to_string(random_() % 3));
        break;
      case 10:
        Engine()->RegisterFlowHandler(flow_id, RandomHandler());
        break;
      default:
        if (Chance(100)) {
          stress_.EmptyingAll([] { Engine()->ResetAllFlows(); });
        }
        break;
    }
  }

  Stress& stress_;
  const std::string own_flow_;
  std::mt19937 random_;
  std::atomic<uint64_t> own_handler_calls_{0};
  uint64_t epoch_generation_{0};
  size_t epoch_length_{0};
  bool tracing_{false};
  std::vector<std::shared_ptr<TracePoint>> kept_;
};

/// Re-initialises the engine over and over, mostly with a 1 ms heartbeat,
/// alternating a node and the publish callback as the events' way out.
void Reinitialise(Stress& stress, const std::shared_ptr<rclcpp::Node>& node,
                  PublishCallback& callback) {
  const TempFile beating(Workflows(kBeating));
  const TempFile stopped(Workflows(kStopped));
  const TempFile without(Workflows(""));
  std::mt19937 random(99);
  while (!stress.stop) {
    const int pick = std::uniform_int_distribution<int>(0, 19)(random);
    stress.EmptyingAll([&] {
      if (pick < 9) {
        Engine()->Init(beating.path(), node);
      } else if (pick < 17) {
        Engine()->Init(beating.path(), callback);
      } else if (pick < 18) {
        kestrune::trace::Init(stopped.path());
      } else {
        Engine()->Init(without.path(), node);
      }
    });
    ++stress.inits;
    std::this_thread::sleep_for(milliseconds(std::uniform_int_distribution<int>(1, 10)(random)));
  }
}

/// Loads `yaml` with a period of 0 until Init reports that no heartbeat runs.
bool StopHeartbeat(const std::string& yaml) {
  const TempFile file(yaml);
  CountingSink& sink = CountingSink::Instance();
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    const uint64_t before = sink.heartbeat_stopped;
    Engine()->Init(file.path(), std::shared_ptr<rclcpp::Node>());
    if (sink.heartbeat_stopped > before) {
      return true;
    }
    std::this_thread::sleep_for(milliseconds(1));
  }
  return false;
}

TEST(Stress, eight_threads_and_reinitialisation_keep_every_undisturbed_flow_intact) {
  CountingSink& sink = CountingSink::Instance();
  Stress stress;
  auto node = std::make_shared<rclcpp::Node>("stress_test");
  std::vector<std::shared_ptr<rclcpp::Subscription<DiagnosticEvent>>> subscriptions;
  for (const char* topic : {"/stress/ordered", "/stress/unordered", "/stress/heartbeat"}) {
    subscriptions.push_back(node->create_subscription<DiagnosticEvent>(
        topic, rclcpp::QoS(100), [&stress](const DiagnosticEvent&) { ++stress.node_events; }));
  }
  uint64_t callback_calls = 0;
  PublishCallback callback = [&stress, &callback_calls](const std::string&,
                                                        const DiagnosticEvent& event) {
    ++stress.callback_events;
    // Always on the engine's lock, so a plain counter is safe; the re-entry is refused.
    if (++callback_calls % 64 == 0) {
      Engine()->GetTraceFlows();
    }
    return !event.msg.empty();
  };
  {
    const TempFile first(Workflows(kBeating));
    Engine()->Init(first.path(), callback);
  }
  // Declared after everything the callbacks and handlers refer to, so it goes first.
  struct Disconnect {
    ~Disconnect() {
      PublishCallback harmless = [](const std::string&, const DiagnosticEvent&) { return true; };
      const TempFile file("workflows: []\n");
      Engine()->Init(file.path(), harmless);
      for (int number = 0; number < kWorkers; ++number) {
        Engine()->RegisterFlowHandler("private_" + std::to_string(number), FlowHandler());
      }
      for (const auto& flow_id : kSharedFlows) {
        Engine()->RegisterFlowHandler(flow_id, FlowHandler());
      }
    }
  };

  const Clock::time_point start = Clock::now();
  std::vector<std::unique_ptr<Worker>> workers;
  std::vector<std::thread> threads;
  std::atomic<int> finished{0};
  std::vector<FlowCheckStatus> verdicts;
  std::vector<DiagnosticEvent> events;
  const Disconnect disconnect;
  for (int number = 0; number < kWorkers; ++number) {
    workers.push_back(std::make_unique<Worker>(stress, number));
    threads.emplace_back([&finished, worker = workers.back().get()] {
      worker->Run();
      ++finished;
    });
  }
  threads.emplace_back([&] {
    Reinitialise(stress, node, callback);
    ++finished;
  });

  // The node's events are taken in while the threads work.
  const Clock::time_point stop_at = start + StressDuration();
  while (Clock::now() < stop_at) {
    rclcpp::spin_some(node);
    std::this_thread::sleep_for(milliseconds(5));
  }
  stress.stop = true;
  // Watchdog: a deadlock or a thread stuck in the engine fails the test instead of hanging it.
  const Clock::time_point give_up = Clock::now() + kGrace;
  while (finished < static_cast<int>(threads.size()) && Clock::now() < give_up) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  if (finished < static_cast<int>(threads.size())) {
    std::cerr << "stress: " << threads.size() - finished << " threads still running "
              << std::chrono::duration_cast<std::chrono::seconds>(kGrace).count()
              << " s after the stop; the engine is deadlocked or stuck" << std::endl;
    std::_Exit(EXIT_FAILURE);
  }
  for (auto& thread : threads) {
    thread.join();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  std::cout << "stress: " << seconds << " s, " << stress.operations << " operations ("
            << stress.traces << " traces, " << stress.checks << " checks), " << stress.inits
            << " inits; own-flow epochs " << stress.verified_epochs << " verified, "
            << stress.interrupted_epochs << " interrupted; " << stress.handler_calls
            << " handler calls, " << stress.callback_events << " callback events, "
            << stress.node_events << " node events, " << sink.refusals << " refused re-entries, "
            << sink.lines << " log lines" << std::endl;
  RecordProperty("operations", std::to_string(stress.operations));
  RecordProperty("verified_epochs", std::to_string(stress.verified_epochs));

  EXPECT_TRUE(stress.failures.empty()) << ::testing::PrintToString(stress.failures);
  EXPECT_EQ(sink.unexpected, 0u);
  EXPECT_GT(stress.verified_epochs, 0u);
  EXPECT_GT(stress.inits, 1u);
  EXPECT_GT(stress.callback_events, 0u);
  EXPECT_GT(sink.refusals, 0u);

  // The engine still answers correctly: a clean run of a flow from a fresh file.
  ASSERT_TRUE(StopHeartbeat(Workflows(kStopped)));
  PublishCallback recording = [&events](const std::string&, const DiagnosticEvent& event) {
    events.push_back(event);
    return true;
  };
  const TempFile last(Workflows(kStopped));
  Engine()->Init(last.path(), recording);
  Engine()->RegisterFlowHandler(
      "shared_unordered",
      [&verdicts](const std::string&, const std::shared_ptr<FlowCheckResult>& result) {
        verdicts.push_back(result->status);
      });
  EXPECT_EQ(
      Engine()->GetTraceFlows(),
      (std::set<std::string>{"heartbeat", "shared_ordered", "shared_silent", "shared_unordered"}));
  Engine()->Trace("shared_unordered", "c", true);
  Engine()->Trace("shared_unordered", "a", true);
  const FlowQueue& queue = Engine()->GetTracePoints("shared_unordered");
  ASSERT_EQ(queue.size(), 2u);
  EXPECT_EQ(queue[0]->index, 0u);
  EXPECT_EQ(queue[1]->index, 1u);
  EXPECT_EQ(Engine()->CheckFlow("shared_unordered")->status, FlowCheckStatus::SUCCESS);
  EXPECT_EQ(verdicts, std::vector<FlowCheckStatus>{FlowCheckStatus::SUCCESS});
  std::vector<std::string> texts;
  for (const auto& event : events) {
    texts.push_back(event.msg);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"Status OK: a", "Succeed flow: shared_unordered"}));

  // And the node still gets its events.
  const uint64_t node_events = stress.node_events;
  Engine()->Init(last.path(), node);
  Engine()->Trace("shared_ordered", "a", true);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (stress.node_events == node_events && Clock::now() < deadline) {
    rclcpp::spin_some(node);
    std::this_thread::sleep_for(milliseconds(1));
  }
  EXPECT_GT(stress.node_events, node_events);
}

/// A configuration of three flows named `<prefix>_1` to `<prefix>_3`, each
/// with `points` points and its file's prefix as its name.
std::string Generation(const std::string& prefix, size_t points) {
  std::string text = "workflows:\n";
  for (int flow = 1; flow <= 3; ++flow) {
    text += "  - flow_id: " + prefix + "_" + std::to_string(flow) + "\n    flow_name: " + prefix +
            "\n    flow_points:\n";
    for (size_t point = 0; point < points; ++point) {
      text += "      - {point_id: p" + std::to_string(point) + ", on_success: true, event_id: 1}\n";
    }
  }
  return text;
}

TEST(Stress, threads_never_see_a_half_loaded_or_mixed_configuration_while_init_runs) {
  const TempFile five(Generation("five", 5));
  const TempFile seven(Generation("seven", 7));
  const std::set<std::string> five_ids = {"five_1", "five_2", "five_3"};
  const std::set<std::string> seven_ids = {"seven_1", "seven_2", "seven_3"};
  PublishCallback callback = [](const std::string&, const DiagnosticEvent&) { return true; };
  Engine()->Init(five.path(), callback);

  std::atomic<bool> done{false};
  std::atomic<uint64_t> torn{0};
  std::atomic<uint64_t> reads{0};
  auto reader = [&] {
    while (!done) {
      const std::set<std::string> ids = Engine()->GetTraceFlows();
      if (ids != five_ids && ids != seven_ids) {
        ++torn;
      }
      for (const auto& id : ids) {
        Engine()->Trace(id, "p0", true);
        // The flow may be gone by now (the other file came in); one that is
        // here is whole and of one file.
        const std::shared_ptr<TraceFlowCfg> flow = Engine()->GetTraceFlowCfg(id);
        if (flow && flow->flow_points.size() != (flow->flow_name == "five" ? 5u : 7u)) {
          ++torn;
        }
        if (flow && id.rfind(flow->flow_name, 0) != 0) {
          ++torn;
        }
      }
      ++reads;
    }
  };
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i) {
    readers.emplace_back(reader);
  }
  // At least 200 swaps, and until the readers have had their turns too.
  const auto deadline = Clock::now() + kGrace;
  for (int round = 0; (round < 200 || reads < 200) && Clock::now() < deadline; ++round) {
    Engine()->Init(round % 2 == 0 ? seven.path() : five.path(), callback);
  }
  done = true;
  for (auto& thread : readers) {
    thread.join();
  }
  EXPECT_EQ(torn, 0u);
  EXPECT_GE(reads, 200u);
}

}  // namespace

int main(int argc, char** argv) {
  // Millions of lines: the counting sink sees them, standard output does not.
  setenv("SPDLOG_STDOUT", "false", 1);
  setenv("SPDLOG_SYSTEMD", "false", 1);
  setenv("SPDLOG_LEVEL", "info", 1);
  CountingSink::Instance();
  rclcpp::init(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  rclcpp::shutdown();
  return result;
}
