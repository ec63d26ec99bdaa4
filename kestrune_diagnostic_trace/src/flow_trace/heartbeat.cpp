// The heartbeat thread, its start and its stop at process exit, and the bound
// of the heartbeat flow's queue.
#include <chrono>
#include <string_view>

#include "kestrune_diagnostic_trace/flow_trace.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace trace {

namespace {

const char kHeartbeatId[] = "heartbeat";

// Long enough for a cycle in progress to finish (a trace and a log line), short
// enough that a publish callback stuck at exit cannot hang the process for good.
constexpr std::chrono::seconds kExitWait{5};

}  // namespace

FlowTrace::FlowTrace() {
  // The logger completes construction first, so it is destroyed after the
  // engine: the heartbeat thread can log until the engine has stopped it.
  Logger::Instance("spdlog");
}

FlowTrace::~FlowTrace() {
  // The thread is detached, so it cannot be joined; it is woken instead and
  // the engine waits for it to leave before its members go.
  std::unique_lock<std::mutex> lock(heartbeat_mutex_);
  shutting_down_ = true;
  heartbeat_wakeup_.notify_all();
  heartbeat_wakeup_.wait_for(lock, kExitWait, [this] { return !heartbeat_running_; });
}

void FlowTrace::startHeartbeat() {
  // Under the same lock as the thread's decision to end, so an Init racing
  // the last cycle either keeps that thread going or starts exactly one new one.
  std::lock_guard<std::mutex> lock(heartbeat_mutex_);
  bool running = false;
  if (heartbeat_duration_ == 0 || shutting_down_ ||
      !heartbeat_running_.compare_exchange_strong(running, true)) {
    return;
  }
  KLOG_INFO("start heartbeat thread...");
  heartbeat_thread_ = std::thread([this] { heartbeatThreadFun(heartbeat_duration_); });
  heartbeat_thread_.detach();
}

void FlowTrace::heartbeatThreadFun(std::atomic<uint32_t>& duration_ms) {
  // heartbeat_running_ was set by startHeartbeat, which claimed the start.
  std::unique_lock<std::mutex> lock(heartbeat_mutex_);
  for (uint32_t period = duration_ms; period != 0; period = duration_ms) {
    // A spurious wake-up goes back to sleep for the rest of the period; only
    // the engine's destruction cuts it short.
    if (heartbeat_wakeup_.wait_for(lock, std::chrono::milliseconds(period),
                                   [this] { return shutting_down_; })) {
      break;
    }
    lock.unlock();
    try {
      Trace(kHeartbeatId, kHeartbeatId, true);
    } catch (const std::exception& e) {
      // A publisher or publish callback that throws would otherwise end the
      // process from this thread; the beats go on, only this event is lost.
      KLOG_ERROR("Heartbeat trace failed: {}", e.what());
    } catch (...) {
      KLOG_ERROR("Heartbeat trace failed: unknown exception");
    }
    KLOG_INFO("heartbeat...");
    lock.lock();
  }
  heartbeat_running_ = false;
  heartbeat_wakeup_.notify_all();
}

void FlowTrace::trimHeartbeatQueue(const std::string& flow_id, FlowQueue& queue) {
  if (std::string_view(flow_id) != kHeartbeatId) {
    return;
  }
  // Dropping half at once keeps the cost per heartbeat constant on average.
  queue.erase(queue.begin(), queue.end() - kHeartbeatQueueLimit / 2);
  uint32_t index = 0;
  for (auto& point : queue) {
    // Renumbered copies: a check result may still hold the old point and read
    // its index without the engine lock.
    point = std::make_shared<TracePoint>(*point);
    point->index = index++;
  }
}

}  // namespace trace
}  // namespace kestrune
