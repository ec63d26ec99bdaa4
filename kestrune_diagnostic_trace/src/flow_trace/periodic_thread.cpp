// A periodic background thread: its start, its cycles and its stop at process exit.
#include "periodic_thread.hpp"

#include <chrono>
#include <exception>
#include <thread>
#include <utility>

#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace trace {
namespace detail {

namespace {

// Long enough for a cycle in progress to finish (a trace and a log line), short
// enough that a publish callback stuck at exit cannot hang the process for good.
constexpr std::chrono::seconds kExitWait{5};

}  // namespace

PeriodicThread::PeriodicThread(std::string name, std::function<void()> cycle)
    : name_(std::move(name)), cycle_(std::move(cycle)) {}

PeriodicThread::~PeriodicThread() {
  std::unique_lock<std::mutex> lock(mutex_);
  stopping_ = true;
  wakeup_.notify_all();
  wakeup_.wait_for(lock, kExitWait, [this] { return !running_; });
}

void PeriodicThread::Start() {
  // Under the same lock as the thread's decision to end, so a start racing
  // the last cycle either keeps that thread going or starts exactly one new one.
  std::lock_guard<std::mutex> lock(mutex_);
  bool running = false;
  if (period_ms_ == 0 || stopping_ || !running_.compare_exchange_strong(running, true)) {
    return;
  }
  KLOG_INFO("start {} thread...", name_);
  std::thread([this] { run(); }).detach();
}

void PeriodicThread::run() {
  // running_ was set by Start, which claimed the start.
  std::unique_lock<std::mutex> lock(mutex_);
  for (uint32_t period = period_ms_; period != 0; period = period_ms_) {
    // A spurious wake-up goes back to sleep for the rest of the period; only
    // the stop cuts it short.
    if (wakeup_.wait_for(lock, std::chrono::milliseconds(period), [this] { return stopping_; })) {
      break;
    }
    lock.unlock();
    try {
      cycle_();
    } catch (const std::exception& e) {
      // A publisher or publish callback that throws would otherwise end the
      // process from this thread; the cycles go on, only this one is lost.
      KLOG_ERROR("{} cycle failed: {}", name_, e.what());
    } catch (...) {
      KLOG_ERROR("{} cycle failed: unknown exception", name_);
    }
    lock.lock();
  }
  running_ = false;
  wakeup_.notify_all();
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune
