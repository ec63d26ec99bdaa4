#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <spdlog/sinks/sink.h>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <kestrune_diagnostic_trace/logger.hpp>

#include "kestrune_test/child_process.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::FlowQueue;
using kestrune::trace::FlowTrace;
using kestrune_test::TempFile;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr size_t kQueueBound = 1000;
constexpr char kExitChildFlag[] = "--exit-child-period-ms";

int64_t Ms(Clock::duration duration) {
  return std::chrono::duration_cast<milliseconds>(duration).count();
}

int64_t WallClockMs() {
  return std::chrono::duration_cast<milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void InitWithPeriod(uint32_t period_ms) {
  TempFile file(
      "workflows:\n  - flow_id: heartbeat\n    duration_ms: " + std::to_string(period_ms) +
      "\n  - flow_id: pick\n    flow_points: [{point_id: a}]\n");
  FlowTrace::GetInstance()->Init(file.path(), std::shared_ptr<rclcpp::Node>());
}

/// What the heartbeat flow's queue held right after one heartbeat point.
struct Beat {
  Clock::time_point at;
  size_t queue_size;
  bool indexes_are_positions;
  int64_t oldest_stamp_ms;
  int64_t newest_stamp_ms;
  int64_t wall_ms;
};

/// A log sink that keeps every line and, on each "heartbeat..." line, a Beat.
///
/// That line is written by the heartbeat thread between its trace and its next
/// sleep, so the thread itself reads the queue and no append races the read;
/// Init, which replaces the queue, is run under the same lock as that read.
class HeartbeatRecorder : public spdlog::sinks::sink {
 public:
  /// Installed before any test starts a thread that logs.
  static HeartbeatRecorder& Instance() {
    static const std::shared_ptr<HeartbeatRecorder> recorder = [] {
      auto created = std::make_shared<HeartbeatRecorder>();
      kestrune::Logger::Instance("spdlog").spdlog_logger()->sinks().push_back(created);
      return created;
    }();
    return *recorder;
  }

  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
    beats_.clear();
  }

  void Init(uint32_t period_ms) {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    InitWithPeriod(period_ms);
  }

  /// The beats so far, once there are at least `count` or the timeout has passed.
  std::vector<Beat> WaitForBeats(size_t count, Clock::duration timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return beats_.size() >= count; });
    return beats_;
  }

  size_t BeatCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return beats_.size();
  }

  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

  size_t Count(const std::string& line) {
    const auto lines = Lines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
  }

  /// Ends a running heartbeat: loads a period of 0 until Init reports none runs.
  bool StopHeartbeat() {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      Init(0);
      const auto lines = Lines();
      if (!lines.empty() && lines.back() == "[INFO] heartbeat duration: 0, heartbeat run: false") {
        return true;
      }
      std::this_thread::sleep_for(milliseconds(1));
    }
    return false;
  }

  void log(const spdlog::details::log_msg& msg) override {
    const std::string payload(msg.payload.data(), msg.payload.size());
    const std::string line = payload.size() > 4 ? payload.substr(4) : payload;
    const Clock::time_point at = Clock::now();
    const bool is_beat = line == "[INFO] heartbeat...";
    Beat beat{};
    if (is_beat) {
      beat = Summarise(at);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
    if (is_beat) {
      beats_.push_back(beat);
    }
    changed_.notify_all();
  }
  void flush() override {}
  void set_pattern(const std::string& /*pattern*/) override {}
  void set_formatter(std::unique_ptr<spdlog::formatter> /*formatter*/) override {}

 private:
  Beat Summarise(Clock::time_point at) {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    const FlowQueue& queue = FlowTrace::GetInstance()->GetTracePoints("heartbeat");
    Beat beat{at, queue.size(), true, 0, 0, WallClockMs()};
    for (size_t i = 0; i < queue.size(); ++i) {
      beat.indexes_are_positions = beat.indexes_are_positions && queue[i]->index == i;
    }
    if (!queue.empty()) {
      beat.oldest_stamp_ms = queue.front()->timestamp_ms;
      beat.newest_stamp_ms = queue.back()->timestamp_ms;
    }
    return beat;
  }

  std::mutex queue_mutex_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::vector<Beat> beats_;
};

class Heartbeat : public ::testing::Test {
 protected:
  void SetUp() override { recorder_.Clear(); }
  void TearDown() override { EXPECT_TRUE(recorder_.StopHeartbeat()); }

  HeartbeatRecorder& recorder_ = HeartbeatRecorder::Instance();
};

TEST_F(Heartbeat, points_come_one_period_apart_indexed_by_position) {
  const Clock::time_point start = Clock::now();
  recorder_.Init(20);
  const auto beats = recorder_.WaitForBeats(5);
  ASSERT_GE(beats.size(), 5u);
  EXPECT_GE(Ms(beats[0].at - start), 20);
  for (size_t i = 0; i < beats.size(); ++i) {
    EXPECT_EQ(beats[i].queue_size, i + 1) << "beat " << i;
    EXPECT_TRUE(beats[i].indexes_are_positions) << "beat " << i;
    if (i > 0) {
      EXPECT_GE(Ms(beats[i].at - beats[i - 1].at), 20) << "beat " << i;
    }
  }
  EXPECT_EQ(recorder_.Count("[INFO] heartbeat duration: 20, heartbeat run: false"), 1u);
  EXPECT_EQ(recorder_.Count("[INFO] start heartbeat thread..."), 1u);
}

TEST_F(Heartbeat, a_second_init_changes_the_period_without_a_second_thread) {
  recorder_.Init(20);
  ASSERT_GE(recorder_.WaitForBeats(2).size(), 2u);
  recorder_.Init(60);
  const Clock::time_point changed = Clock::now();
  const size_t before = recorder_.BeatCount();
  const auto beats = recorder_.WaitForBeats(before + 4);
  ASSERT_GE(beats.size(), before + 4);
  size_t gaps = 0;
  for (size_t i = 1; i < beats.size(); ++i) {
    if (beats[i - 1].at >= changed) {
      EXPECT_GE(Ms(beats[i].at - beats[i - 1].at), 60) << "beat " << i;
      ++gaps;
    }
  }
  EXPECT_GE(gaps, 2u);
  EXPECT_EQ(recorder_.Count("[INFO] heartbeat duration: 60, heartbeat run: true"), 1u);
  EXPECT_EQ(recorder_.Count("[INFO] start heartbeat thread..."), 1u);
}

TEST_F(Heartbeat, period_zero_ends_the_thread_and_a_later_period_starts_a_new_one) {
  recorder_.Init(20);
  ASSERT_GE(recorder_.WaitForBeats(1).size(), 1u);
  recorder_.Init(0);
  const size_t at_stop = recorder_.BeatCount();
  ASSERT_TRUE(recorder_.StopHeartbeat());
  // The cycle in progress completes; none follows it.
  const size_t at_end = recorder_.BeatCount();
  EXPECT_LE(at_end - at_stop, 1u);

  recorder_.Init(20);
  EXPECT_EQ(recorder_.Count("[INFO] start heartbeat thread..."), 2u);
  const auto beats = recorder_.WaitForBeats(at_end + 2);
  ASSERT_GE(beats.size(), at_end + 2);
  EXPECT_EQ(beats[at_end].queue_size, 1u);
  EXPECT_EQ(beats[at_end + 1].queue_size, 2u);
}

TEST_F(Heartbeat, reset_all_flows_keeps_the_heartbeat_points) {
  recorder_.Init(20);
  ASSERT_GE(recorder_.WaitForBeats(2).size(), 2u);
  FlowTrace::GetInstance()->ResetAllFlows();
  const size_t after_reset = recorder_.BeatCount();
  const auto beats = recorder_.WaitForBeats(after_reset + 1);
  ASSERT_GE(beats.size(), after_reset + 1);
  for (size_t i = 0; i < beats.size(); ++i) {
    EXPECT_EQ(beats[i].queue_size, i + 1) << "beat " << i;
  }
}

// The heartbeat's configuration is the live record GetTraceFlowCfg hands out.
// Once its built-in point has saturated (repeat_max 10) a beat changes
// nothing in it, and must store nothing: under ThreadSanitizer a store of the
// same value races with this thread's reads.
TEST_F(Heartbeat, its_configuration_can_be_read_while_it_beats) {
  recorder_.Init(1);
  ASSERT_GE(recorder_.WaitForBeats(11).size(), 11u);
  const auto flow = FlowTrace::GetInstance()->GetTraceFlowCfg("heartbeat");
  ASSERT_TRUE(flow);
  const size_t until = recorder_.BeatCount() + 20;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while (recorder_.BeatCount() < until && Clock::now() < deadline) {
    ASSERT_EQ(flow->check_index, 0u);
    ASSERT_EQ(flow->flow_points.front()->exec_cnt, 10u);
  }
  EXPECT_GE(recorder_.BeatCount(), until);
}

TEST_F(Heartbeat, queue_keeps_only_the_newest_points_up_to_its_bound) {
  recorder_.Init(1);
  const auto beats = recorder_.WaitForBeats(kQueueBound + 100, std::chrono::seconds(60));
  ASSERT_GE(beats.size(), kQueueBound + 100);
  size_t largest = 0;
  for (size_t i = 0; i < beats.size(); ++i) {
    largest = std::max(largest, beats[i].queue_size);
    ASSERT_LE(beats[i].queue_size, kQueueBound) << "beat " << i;
    ASSERT_TRUE(beats[i].indexes_are_positions) << "beat " << i;
    if (i > 0) {
      // The running check compares each point with the one before it.
      ASSERT_GE(beats[i].queue_size, 2u) << "beat " << i;
      // The point just traced is kept: it is younger than the previous beat.
      ASSERT_GE(beats[i].newest_stamp_ms, beats[i - 1].wall_ms) << "beat " << i;
    }
    const size_t size = beats[i].queue_size;
    if (i >= size) {
      // The oldest point kept was traced after the beat `size` back: the queue
      // holds exactly the newest points.
      ASSERT_GE(beats[i].oldest_stamp_ms, beats[i - size].wall_ms) << "beat " << i;
    }
  }
  EXPECT_EQ(largest, kQueueBound);
}

struct ChildExit {
  /// The exit code; -1 when the child overran its deadline.
  int status;
  /// From the child's leaving main to its end: its static destruction.
  Clock::duration exit_took;
};

/// Runs this binary as a child that starts a heartbeat and leaves main; kills
/// it if it has not ended after `timeout`.
ChildExit RunExitChild(uint32_t period_ms, Clock::duration timeout) {
  TempFile left_main("", ".txt");
  kestrune_test::ChildProcess child(
      {"/proc/self/exe", kExitChildFlag, std::to_string(period_ms), left_main.path()});
  const std::optional<int> status = child.wait_for_exit(Clock::now() + timeout);
  if (!status) {
    return {-1, Clock::duration::zero()};
  }
  const Clock::time_point ended = Clock::now();
  // The steady clock is the system-wide monotonic clock, shared with the child.
  Clock::rep left = 0;
  std::ifstream(left_main.path()) >> left;
  return {*status, ended - Clock::time_point(Clock::duration(left))};
}

/// The child: a heartbeat of the given period, running when main returns.
int ExitChild(uint32_t period_ms, const std::string& report) {
  // Registered before the engine exists, so it runs after the engine's
  // destructor: a heartbeat thread left running would meet the destroyed
  // engine and logger during this pause.
  std::atexit([] { std::this_thread::sleep_for(milliseconds(50)); });
  InitWithPeriod(period_ms);
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (period_ms < 1000 &&
         FlowTrace::GetInstance()->GetFlowDuration("heartbeat") < 10u * period_ms &&
         Clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(1));
  }
  std::ofstream(report) << Clock::now().time_since_epoch().count();
  return 0;
}

TEST(HeartbeatExit, a_sleeping_heartbeat_does_not_delay_exit) {
  const ChildExit child = RunExitChild(60000, std::chrono::seconds(30));
  EXPECT_EQ(child.status, 0);
  EXPECT_LT(Ms(child.exit_took), 2000);
}

TEST(HeartbeatExit, a_busy_heartbeat_stops_before_the_engine_is_destroyed) {
  const ChildExit child = RunExitChild(1, std::chrono::seconds(30));
  EXPECT_EQ(child.status, 0);
  EXPECT_LT(Ms(child.exit_took), 2000);
}

TEST(HeartbeatExit, exit_while_the_heartbeat_sleeps_is_clean_fifty_times_in_a_row) {
  // Mostly a thread asleep for a minute; the short periods let exit also land
  // just before, in or after a beat. Under AddressSanitizer a touch of the
  // destroyed engine or logger fails the child.
  const uint32_t periods[] = {60000, 60000, 60000, 1, 3, 60000, 60000, 60000, 7, 20};
  for (int run = 0; run < 50; ++run) {
    const uint32_t period = periods[run % (sizeof(periods) / sizeof(periods[0]))];
    const ChildExit child = RunExitChild(period, std::chrono::seconds(30));
    ASSERT_EQ(child.status, 0) << "run " << run << ", period " << period << " ms";
    EXPECT_LT(Ms(child.exit_took), 2000) << "run " << run << ", period " << period << " ms";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == kExitChildFlag) {
    return ExitChild(static_cast<uint32_t>(std::stoul(argv[2])), argv[3]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
