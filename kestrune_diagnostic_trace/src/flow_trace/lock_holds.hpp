#ifndef KESTRUNE_DIAGNOSTIC_TRACE__LOCK_HOLDS_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__LOCK_HOLDS_HPP_

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace kestrune {
namespace trace {
namespace detail {

/// How long one of the engine's own threads has held the engine mutex: what
/// its work costs every thread that traces. Read by the benchmarks.
///
/// Each hold is timed twice: on the wall clock, which counts the time the
/// scheduler gives the core to another thread meanwhile, and on the thread's
/// own CPU clock, which counts only the work done holding the mutex.
struct LockHolds {
  std::atomic<uint64_t> holds{0};
  std::atomic<uint64_t> longest_ns{0};
  std::atomic<uint64_t> longest_cpu_ns{0};

  void Note(uint64_t wall_ns, uint64_t cpu_ns) {
    holds.fetch_add(1, std::memory_order_relaxed);
    raise(longest_ns, wall_ns);
    raise(longest_cpu_ns, cpu_ns);
  }
  void Clear() {
    holds = 0;
    longest_ns = 0;
    longest_cpu_ns = 0;
  }

 private:
  static void raise(std::atomic<uint64_t>& longest, uint64_t ns) {
    uint64_t seen = longest.load(std::memory_order_relaxed);
    while (ns > seen && !longest.compare_exchange_weak(seen, ns)) {
    }
  }
};

/// The heartbeat thread's holds, one a beat.
LockHolds& HeartbeatHolds();
/// The health reporter's holds: its slices of the flow table and its stall reports.
LockHolds& DiagnosticsHolds();

/// Notes the time from its construction to its end; made right after the lock is taken.
class HoldTimer {
 public:
  explicit HoldTimer(LockHolds& holds)
      : holds_(holds), wall_(std::chrono::steady_clock::now()), cpu_(ThreadCpuNs()) {}
  ~HoldTimer() {
    const auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now() - wall_)
                          .count();
    holds_.Note(static_cast<uint64_t>(wall), ThreadCpuNs() - cpu_);
  }

  HoldTimer(const HoldTimer&) = delete;
  HoldTimer& operator=(const HoldTimer&) = delete;

 private:
  static uint64_t ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000U + static_cast<uint64_t>(now.tv_nsec);
  }

  LockHolds& holds_;
  const std::chrono::steady_clock::time_point wall_;
  const uint64_t cpu_;
};

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__LOCK_HOLDS_HPP_
