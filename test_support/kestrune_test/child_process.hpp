#ifndef KESTRUNE_TEST__CHILD_PROCESS_HPP_
#define KESTRUNE_TEST__CHILD_PROCESS_HPP_

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace kestrune_test {

/// Where a child's standard error goes.
enum class ChildStderr {
  kInherited,  ///< the test's own standard error
  kMerged,     ///< into output(), interleaved with standard output as written
};

/// A program started by a test: its environment, its output, bounded waits and
/// signals. Killed and reaped if it still runs when this is destroyed.
/// Not thread-safe; one test thread drives it.
class ChildProcess {
 public:
  using Clock = std::chrono::steady_clock;

  /// Starts argv[0] with the test's environment changed by `environment`:
  /// "NAME=value" sets a variable, "NAME" removes it.
  explicit ChildProcess(std::vector<std::string> argv,
                        const std::vector<std::string>& environment = {},
                        ChildStderr stderr_to = ChildStderr::kInherited) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string variable(*entry);
      const std::string name = variable.substr(0, variable.find('='));
      const bool changed =
          std::any_of(environment.begin(), environment.end(), [&name](const std::string& change) {
            return change.substr(0, change.find('=')) == name;
          });
      if (!changed) {
        variables.push_back(variable);
      }
    }
    for (const auto& change : environment) {
      if (change.find('=') != std::string::npos) {
        variables.push_back(change);
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
    if (stderr_to == ChildStderr::kMerged) {
      posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
    }
    std::vector<char*> args = pointers(argv);
    std::vector<char*> env = pointers(variables);
    const int spawned = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (spawned != 0) {
      close(output_fd_);
      throw std::runtime_error("cannot start " + argv.at(0));
    }
    // glibc 2.36 declares pidfd_open without C linkage for C++; the system call has none of that.
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      close(output_fd_);
      throw std::runtime_error("cannot watch " + argv.at(0));
    }
  }

  ~ChildProcess() {
    if (!exit_status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(output_fd_);
    close(pidfd_);
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  /// Reads what the child has written, waiting until `deadline` for some;
  /// false at the deadline or once the child has closed its output.
  bool read_output(Clock::time_point deadline) {
    if (output_closed_) {
      return false;
    }
    pollfd watch{output_fd_, POLLIN, 0};
    if (poll(&watch, 1, milliseconds_left(deadline)) != 1) {
      return false;
    }
    char buffer[4096];
    const ssize_t got = read(output_fd_, buffer, sizeof(buffer));
    if (got <= 0) {
      output_closed_ = true;
      return false;
    }
    output_.append(buffer, static_cast<size_t>(got));
    return true;
  }

  /// Collects the output until the child ends, waiting at most until
  /// `deadline`; then its exit code (128 + signal number when a signal ended
  /// it). Nothing if it still runs at the deadline.
  std::optional<int> wait_for_exit(Clock::time_point deadline) {
    while (!exit_status_) {
      pollfd watch[] = {{output_closed_ ? -1 : output_fd_, POLLIN, 0}, {pidfd_, POLLIN, 0}};
      if (poll(watch, 2, milliseconds_left(deadline)) <= 0) {
        return std::nullopt;
      }
      if (watch[0].revents != 0) {
        read_output(deadline);
      }
      if (watch[1].revents != 0) {
        int status = 0;
        waitpid(pid_, &status, 0);
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    // What the child wrote last; a process it left behind may hold the pipe open.
    while (read_output(Clock::now())) {
    }
    return exit_status_;
  }
  std::optional<int> wait_for_exit(std::chrono::milliseconds timeout) {
    return wait_for_exit(Clock::now() + timeout);
  }

  pid_t pid() const { return pid_; }

  bool running() {
    pollfd watch{pidfd_, POLLIN, 0};
    return !exit_status_ && poll(&watch, 1, 0) == 0;
  }

  void signal(int signal_number) {
    if (!exit_status_) {
      kill(pid_, signal_number);
    }
  }
  /// Sends SIGINT, as Ctrl-C in a terminal does.
  void interrupt() { signal(SIGINT); }

  /// The output collected so far.
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

  static int milliseconds_left(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
  }

  pid_t pid_{-1};
  int output_fd_{-1};
  int pidfd_{-1};
  bool output_closed_{false};
  std::string output_;
  std::optional<int> exit_status_;
};

}  // namespace kestrune_test

#endif  // KESTRUNE_TEST__CHILD_PROCESS_HPP_
