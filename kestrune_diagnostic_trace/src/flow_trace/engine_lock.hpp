#ifndef KESTRUNE_DIAGNOSTIC_TRACE__ENGINE_LOCK_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__ENGINE_LOCK_HPP_

#include <mutex>

namespace kestrune {
namespace trace {
namespace detail {

/// Holds the engine mutex for one operation.
///
/// Flow handlers and publish callbacks run with the mutex held; when one of them
/// calls back into the engine on the same thread, locking again would deadlock
/// (the mutex is not recursive). Such a call is refused instead: the lock is
/// not taken, an error line names the operation, and the guard converts to false.
class EngineLock {
 public:
  // Inline: every Trace takes the lock, and a call into the library for it
  // would cost as much as the flag test itself.
  EngineLock(std::mutex& mutex, const char* operation) {
    if (held_by_this_thread_) {
      ReportReentry(operation);
      return;
    }
    mutex.lock();
    mutex_ = &mutex;
    held_by_this_thread_ = true;
  }
  ~EngineLock() {
    if (mutex_ != nullptr) {
      held_by_this_thread_ = false;
      mutex_->unlock();
    }
  }

  EngineLock(const EngineLock&) = delete;
  EngineLock& operator=(const EngineLock&) = delete;

  explicit operator bool() const { return mutex_ != nullptr; }

  /// True while the calling thread holds the engine mutex through an EngineLock.
  static bool HeldByThisThread() { return held_by_this_thread_; }
  /// Logs the refusal of `operation` for a call made with the mutex held.
  static void ReportReentry(const char* operation);

 private:
  // There is one engine per process, so one flag per thread is enough. The
  // initial-exec model makes reading it a plain thread-relative load instead of
  // a call into the dynamic loader.
  [[gnu::tls_model("initial-exec")]] static thread_local bool held_by_this_thread_;

  std::mutex* mutex_{nullptr};
};

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__ENGINE_LOCK_HPP_
