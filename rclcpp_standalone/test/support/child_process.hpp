#ifndef RCLCPP_STANDALONE__TEST__SUPPORT__CHILD_PROCESS_HPP_
#define RCLCPP_STANDALONE__TEST__SUPPORT__CHILD_PROCESS_HPP_

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace test_support {

/// A program started by a test, with the test's environment plus overrides.
/// Killed and reaped if still running when destroyed.
class ChildProcess {
 public:
  /// `overrides` are "NAME=value" entries replacing or adding to the environment.
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& overrides = {}) {
    std::vector<std::string> environment = overrides;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string variable(*entry);
      const std::string name = variable.substr(0, variable.find('=') + 1);
      bool overridden = false;
      for (const auto& override_entry : overrides) {
        overridden = overridden || override_entry.rfind(name, 0) == 0;
      }
      if (!overridden) {
        environment.push_back(variable);
      }
    }
    std::vector<std::string> arguments = argv;
    std::vector<char*> args = pointers(arguments);
    std::vector<char*> env = pointers(environment);
    if (posix_spawn(&pid_, args[0], nullptr, nullptr, args.data(), env.data()) != 0) {
      throw std::runtime_error("cannot start " + argv.at(0));
    }
    // glibc 2.36's pidfd_open lacks C linkage in C++; the system call has none of that.
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      throw std::runtime_error("cannot watch " + argv.at(0));
    }
  }

  ~ChildProcess() {
    if (!exit_status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(pidfd_);
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  /// The exit status (128 + signal number when killed) once the program has
  /// ended, waiting at most `timeout`; nothing while it still runs.
  std::optional<int> wait_for_exit(std::chrono::milliseconds timeout) {
    if (!exit_status_) {
      pollfd watch{pidfd_, POLLIN, 0};
      if (poll(&watch, 1, static_cast<int>(timeout.count())) == 1) {
        int status = 0;
        waitpid(pid_, &status, 0);
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    return exit_status_;
  }

 private:
  static std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& text : strings) {
      result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
  }

  pid_t pid_{-1};
  int pidfd_{-1};
  std::optional<int> exit_status_;
};

}  // namespace test_support

#endif  // RCLCPP_STANDALONE__TEST__SUPPORT__CHILD_PROCESS_HPP_
