#include "signal_handler.hpp"

#include <cerrno>

#include "rclcpp/detail/context.hpp"

namespace rclcpp {
namespace detail {

namespace {
// The handler may not touch a function-local static under construction.
sem_t* g_semaphore = nullptr;
}  // namespace

SignalHandler& SignalHandler::instance() {
  static SignalHandler handler;
  return handler;
}

SignalHandler::SignalHandler() {
  sem_init(&semaphore_, 0, 0);
}

SignalHandler::~SignalHandler() {
  if (installed_) {
    sigaction(SIGINT, &old_sigint_, nullptr);
    sigaction(SIGTERM, &old_sigterm_, nullptr);
    g_semaphore = nullptr;
    stopping_ = true;
    sem_post(&semaphore_);
    watcher_.join();
  }
  sem_destroy(&semaphore_);
}

void SignalHandler::install() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (installed_) {
    return;
  }
  g_semaphore = &semaphore_;
  watcher_ = std::thread(&SignalHandler::watch, this);
  struct sigaction action {};
  action.sa_handler = &SignalHandler::on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &old_sigint_);
  sigaction(SIGTERM, &action, &old_sigterm_);
  installed_ = true;
}

void SignalHandler::on_signal(int /*signum*/) {
  const int saved_errno = errno;
  if (g_semaphore != nullptr) {
    sem_post(g_semaphore);
  }
  errno = saved_errno;
}

void SignalHandler::watch() {
  while (true) {
    while (sem_wait(&semaphore_) != 0 && errno == EINTR) {
    }
    if (stopping_) {
      return;
    }
    Context::instance().shutdown();
  }
}

}  // namespace detail
}  // namespace rclcpp
