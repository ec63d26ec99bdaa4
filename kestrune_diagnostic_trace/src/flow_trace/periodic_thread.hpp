#ifndef KESTRUNE_DIAGNOSTIC_TRACE__HEARTBEAT_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__HEARTBEAT_HPP_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace kestrune {
namespace trace {
namespace detail {

/// The heartbeat: a background thread that calls `beat` once per period for as
/// long as the period is not 0.
///
/// The thread is detached, since the engine it beats into lives until process
/// exit; the destructor is the stop handshake instead of a join: it wakes a
/// sleeping thread and waits for it to leave (at most a few seconds, so a beat
/// stuck at exit cannot hang the process). Thread-safe.
class Heartbeat {
 public:
  /// `beat` runs on the heartbeat thread; an exception it throws is logged and
  /// the beats go on.
  explicit Heartbeat(std::function<void()> beat);
  ~Heartbeat();

  Heartbeat(const Heartbeat&) = delete;
  Heartbeat& operator=(const Heartbeat&) = delete;

  /// The thread reads the period before each sleep: a new one takes effect at
  /// the next sleep, and 0 ends the thread after the cycle in progress.
  void SetPeriod(uint32_t period_ms) { period_ms_ = period_ms; }
  uint32_t period() const { return period_ms_; }
  bool running() const { return running_; }

  /// Starts the thread unless one runs or the period is 0.
  void Start();

 private:
  void run();

  const std::function<void()> beat_;
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

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__HEARTBEAT_HPP_
