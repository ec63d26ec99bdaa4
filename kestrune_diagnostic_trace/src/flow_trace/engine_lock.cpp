#include "engine_lock.hpp"

#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace trace {
namespace detail {

namespace {
// There is one engine per process, so one flag per thread is enough. Every
// Trace reads and writes it; the initial-exec model makes that a plain
// thread-relative load instead of a call into the dynamic loader.
[[gnu::tls_model("initial-exec")]] thread_local bool t_engine_locked = false;
}  // namespace

EngineLock::EngineLock(std::mutex& mutex, const char* operation) : lock_(mutex, std::defer_lock) {
  if (t_engine_locked) {
    ReportReentry(operation);
    return;
  }
  lock_.lock();
  t_engine_locked = true;
}

EngineLock::~EngineLock() {
  if (lock_.owns_lock()) {
    t_engine_locked = false;
  }
}

bool EngineLock::HeldByThisThread() {
  return t_engine_locked;
}

void EngineLock::ReportReentry(const char* operation) {
  KLOG_ERROR(
      "{} refused: called from a flow handler or publish callback while the engine is locked",
      operation);
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune
