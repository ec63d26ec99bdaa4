#ifndef KESTRUNE_DIAGNOSTIC_TRACE__PERIODIC_THREAD_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__PERIODIC_THREAD_HPP_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace kestrune {
namespace trace {
namespace detail {

/// A background thread that calls `cycle` once per period for as long as the
/// period is not 0: the heartbeat's beats, the health report's ticks.
///
/// The thread is detached, since the engine it works on lives until process
/// exit; the destructor is the stop handshake instead of a join: it wakes a
/// sleeping thread and waits for it to leave (at most a few seconds, so a cycle
/// stuck at exit cannot hang the process). Thread-safe.
class PeriodicThread {
 public:
  /// `name` names the thread in log lines ("heartbeat"). `cycle` runs on the
  /// thread; an exception it throws is logged and the cycles go on.
  PeriodicThread(std::string name, std::function<void()> cycle);
  ~PeriodicThread();

  PeriodicThread(const PeriodicThread&) = delete;
  PeriodicThread& operator=(const PeriodicThread&) = delete;

  /// The thread reads the period before each sleep: a new one takes effect at
  /// the next sleep, and 0 ends the thread after the cycle in progress.
  void SetPeriod(uint32_t period_ms) { period_ms_ = period_ms; }
  uint32_t period() const { return period_ms_; }
  bool running() const { return running_; }

  /// Starts the thread unless one runs or the period is 0.
  void Start();

 private:
  void run();

  const std::string name_;
  const std::function<void()> cycle_;
  std::atomic<uint32_t> period_ms_{0};
  std::atomic<bool> running_{false};
  // Serialises the start and end decisions and lets the destructor cut a sleep short.
  std::mutex mutex_;
  std::condition_variable wakeup_;
  bool stopping_{false};
};

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__PERIODIC_THREAD_HPP_
