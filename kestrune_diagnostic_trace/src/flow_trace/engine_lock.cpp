#include "engine_lock.hpp"

#include "kestrune_diagnostic_trace/logger.hpp"
#include "lock_holds.hpp"

namespace kestrune {
namespace trace {
namespace detail {

thread_local bool EngineLock::held_by_this_thread_ = false;

void EngineLock::ReportReentry(const char* operation) {
  KLOG_ERROR(
      "{} refused: called from a flow handler or publish callback while the engine is locked",
      operation);
}

LockHolds& HeartbeatHolds() {
  static LockHolds holds;
  return holds;
}

LockHolds& DiagnosticsHolds() {
  static LockHolds holds;
  return holds;
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune
