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
  EngineLock(std::mutex& mutex, const char* operation);
  ~EngineLock();

  EngineLock(const EngineLock&) = delete;
  EngineLock& operator=(const EngineLock&) = delete;

  explicit operator bool() const { return lock_.owns_lock(); }

  /// True while the calling thread holds the engine mutex through an EngineLock.
  static bool HeldByThisThread();
  /// Logs the refusal of `operation` for a call made with the mutex held.
  static void ReportReentry(const char* operation);

 private:
  std::unique_lock<std::mutex> lock_;
};

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__ENGINE_LOCK_HPP_
