#ifndef RCLCPP_STANDALONE__SIGNAL_HANDLER_HPP_
#define RCLCPP_STANDALONE__SIGNAL_HANDLER_HPP_

#include <semaphore.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace rclcpp {
namespace detail {

/// Turns SIGINT and SIGTERM into a context shutdown.
///
/// The handler itself only posts a semaphore (async-signal-safe); a watcher
/// thread does the shutdown, as rclcpp's signal handler does. The watcher is
/// joined when the process-wide instance is destroyed.
class SignalHandler {
 public:
  static SignalHandler& instance();

  SignalHandler(const SignalHandler&) = delete;
  SignalHandler& operator=(const SignalHandler&) = delete;
  ~SignalHandler();

  /// Installs the handlers and starts the watcher; later calls do nothing.
  void install();

 private:
  SignalHandler();
  static void on_signal(int signum);
  void watch();

  std::mutex mutex_;
  bool installed_{false};
  std::atomic<bool> stopping_{false};
  sem_t semaphore_{};
  std::thread watcher_;
  struct sigaction old_sigint_ {};
  struct sigaction old_sigterm_ {};
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP_STANDALONE__SIGNAL_HANDLER_HPP_
