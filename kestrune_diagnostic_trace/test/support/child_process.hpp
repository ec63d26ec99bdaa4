#ifndef SUPPORT__CHILD_PROCESS_HPP_
#define SUPPORT__CHILD_PROCESS_HPP_

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace kestrune_test {

/// A program started by a test with the test's environment plus overrides,
/// its standard output captured. Killed and reaped if still running when destroyed.
class ChildProcess {
 public:
  /// `overrides` are "NAME=value" entries replacing or adding to the environment.
  explicit ChildProcess(std::vector<std::string> argv,
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
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
      throw std::runtime_error("cannot create a pipe");
    }
    output_fd_ = pipe_fds[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    std::vector<char*> args = pointers(argv);
    std::vector<char*> env = pointers(environment);
    const int spawned = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (spawned != 0) {
      close(output_fd_);
      throw std::runtime_error("cannot start " + argv.at(0));
    }
  }

  ~ChildProcess() {
    if (!exit_status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(output_fd_);
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  /// Collects standard output until the program closes it (by ending), waiting
  /// at most `timeout`; then the exit status (128 + signal number when killed).
  /// Nothing if the program still runs at the deadline.
  std::optional<int> wait_for_exit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!exit_status_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd watch{output_fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&watch, 1, static_cast<int>(left.count())) <= 0) {
        return std::nullopt;
      }
      char buffer[4096];
      const ssize_t got = read(output_fd_, buffer, sizeof(buffer));
      if (got > 0) {
        output_.append(buffer, static_cast<size_t>(got));
      } else {
        int status = 0;
        waitpid(pid_, &status, 0);
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    return exit_status_;
  }

  /// Sends SIGINT, as Ctrl-C in a terminal does.
  void interrupt() { kill(pid_, SIGINT); }

  /// Standard output collected so far.
  const std::string& output() const { return output_; }

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
  int output_fd_{-1};
  std::string output_;
  std::optional<int> exit_status_;
};

}  // namespace kestrune_test

#endif  // SUPPORT__CHILD_PROCESS_HPP_
