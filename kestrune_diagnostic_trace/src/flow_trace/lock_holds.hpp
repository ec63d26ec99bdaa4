#ifndef KESTRUNE_DIAGNOSTIC_TRACE__LOCK_HOLDS_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__LOCK_HOLDS_HPP_

#include <atomic>
#include <chrono>
#include <cstdint>

namespace kestrune {
namespace trace {
namespace detail {

/// How long one of the engine's own threads has held the engine mutex: what
/// its work costs every thread that traces. Read by the benchmarks.
struct LockHolds {
  std::atomic<uint64_t> holds{0};
  std::atomic<uint64_t> longest_ns{0};

  void Note(std::chrono::steady_clock::duration held) {
    const auto ns =
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(held).count());
    holds.fetch_add(1, std::memory_order_relaxed);
    uint64_t longest = longest_ns.load(std::memory_order_relaxed);
    while (ns > longest && !longest_ns.compare_exchange_weak(longest, ns)) {
    }
  }
  void Clear() {
    holds = 0;
    longest_ns = 0;
  }
};

/// The heartbeat thread's holds, one a beat.
LockHolds& HeartbeatHolds();
/// The health reporter's holds: its slices of the flow table and its stall reports.
LockHolds& DiagnosticsHolds();

/// Notes the time from its construction to its end; made right after the lock is taken.
class HoldTimer {
 public:
  explicit HoldTimer(LockHolds& holds) : holds_(holds), start_(std::chrono::steady_clock::now()) {}
  ~HoldTimer() { holds_.Note(std::chrono::steady_clock::now() - start_); }

  HoldTimer(const HoldTimer&) = delete;
  HoldTimer& operator=(const HoldTimer&) = delete;

 private:
  LockHolds& holds_;
  const std::chrono::steady_clock::time_point start_;
};

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__LOCK_HOLDS_HPP_
