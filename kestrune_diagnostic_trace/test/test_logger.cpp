// The facade reads its environment once per process, so every case runs the
// logger_probe program in a child process with an environment of its own.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <kestrune_diagnostic_trace/logger.hpp>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kProbeDeadline{30};
constexpr char kJournalSocket[] = "/run/systemd/journal/socket";

const std::string kStdoutNotSet = "environment variable SPDLOG_STDOUT is not set, and set true\n";
const std::string kStdoutInvalid = "environment variable SPDLOG_STDOUT is invalid, and set true\n";
const std::string kSystemdNotSet =
    "environment variable SPDLOG_SYSTEMD is not set, and set false\n";
const std::string kSystemdInvalid =
    "environment variable SPDLOG_SYSTEMD is invalid, and set false\n";
const std::string kLevelNotSet =
    "environment variable SPDLOG_LEVEL is not set, and set default level\n";
const std::string kLevelInvalid =
    "environment variable SPDLOG_LEVEL is invalid, and set default level\n";

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) {
      close(fd_);
    }
    fd_ = -1;
  }

 private:
  int fd_;
};

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

struct ProbeRun {
  std::string out;                     // all the probe wrote to stdout
  std::vector<std::string> datagrams;  // what reached the journal socket, when one was given
  int exit_code = -1;                  // -1: killed at the deadline or ended by a signal
  std::string error;                   // why the run itself failed
};

/// Runs the probe with `settings` ("NAME=value") as its only SPDLOG_* variables,
/// collecting its stdout and, if `journal` is a socket, the datagrams sent to it.
/// Uses no gtest macros: it also runs in a forked child.
ProbeRun RunProbe(const std::vector<std::string>& settings, std::vector<std::string> args,
                  int journal = -1) {
  ProbeRun run;
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "SPDLOG_", 7) != 0) {
      env.emplace_back(*entry);
    }
  }
  env.insert(env.end(), settings.begin(), settings.end());
  args.insert(args.begin(), KESTRUNE_LOGGER_PROBE);
  const auto pointers = [](std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) {
      result.push_back(s.data());
    }
    result.push_back(nullptr);
    return result;
  };
  std::vector<char*> envp = pointers(env);
  std::vector<char*> argv = pointers(args);

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    run.error = std::string("pipe: ") + std::strerror(errno);
    return run;
  }
  Fd out(ends[0]);
  Fd out_writer(ends[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_writer.get(), STDOUT_FILENO);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  out_writer.reset();
  if (spawned != 0) {
    run.error = std::string("posix_spawn: ") + std::strerror(spawned);
    return run;
  }
  // glibc 2.36 declares pidfd_open without C linkage for C++; call the kernel directly.
  Fd process(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  if (process.get() < 0) {
    run.error = std::string("pidfd_open: ") + std::strerror(errno);
  }

  const Clock::time_point deadline = Clock::now() + kProbeDeadline;
  std::vector<char> buffer(1 << 16);
  bool out_open = true;
  bool exited = false;
  while ((out_open || !exited) && process.get() >= 0 && MillisecondsLeft(deadline) > 0) {
    pollfd fds[] = {{out_open ? out.get() : -1, POLLIN, 0},
                    {journal, POLLIN, 0},
                    {exited ? -1 : process.get(), POLLIN, 0}};
    if (poll(fds, 3, MillisecondsLeft(deadline)) < 0 && errno != EINTR) {
      break;
    }
    if (fds[0].revents != 0) {
      const ssize_t n = read(out.get(), buffer.data(), buffer.size());
      if (n > 0) {
        run.out.append(buffer.data(), static_cast<size_t>(n));
      } else {
        out_open = false;
      }
    }
    if (fds[1].revents != 0) {
      const ssize_t n = recv(journal, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (n >= 0) {
        run.datagrams.emplace_back(buffer.data(), static_cast<size_t>(n));
      }
    }
    exited = exited || fds[2].revents != 0;
  }
  if (!exited) {
    kill(pid, SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (exited && WIFEXITED(status)) {
    run.exit_code = WEXITSTATUS(status);
  }
  // A datagram is queued once its send returns, so all of them are here by now.
  for (ssize_t n;
       journal >= 0 && (n = recv(journal, buffer.data(), buffer.size(), MSG_DONTWAIT)) >= 0;) {
    run.datagrams.emplace_back(buffer.data(), static_cast<size_t>(n));
  }
  return run;
}

// What the namespace child reports: records of a tag, a 64-bit length and the bytes.
constexpr char kSkip = 'S';
constexpr char kFailure = 'F';
constexpr char kOut = 'O';
constexpr char kDatagram = 'D';
constexpr char kExitCode = 'X';

void SendRecord(int fd, char tag, const std::string& bytes) {
  const uint64_t size = bytes.size();
  std::string record(1, tag);
  record.append(reinterpret_cast<const char*>(&size), sizeof size);
  record += bytes;
  for (size_t done = 0; done < record.size();) {
    const ssize_t n = write(fd, record.data() + done, record.size() - done);
    if (n <= 0) {
      return;
    }
    done += static_cast<size_t>(n);
  }
}

struct JournalCase {
  std::vector<std::string> settings;
  std::vector<std::string> args;
  bool socket_bound;
};

/// In a forked child: a private mount namespace with a tmpfs on /run, so the
/// journal socket the probes see is ours and the machine's journal is untouched.
[[noreturn]] void ServeJournal(int report, const std::vector<JournalCase>& cases) {
  const auto fail = [report](const std::string& what) {
    const int error = errno;
    SendRecord(report, error == EPERM ? kSkip : kFailure, what + ": " + std::strerror(error));
    _exit(0);
  };
  if (unshare(CLONE_NEWNS) != 0) {
    fail("unshare(CLONE_NEWNS)");
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    fail("making / private");
  }
  if (mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
    fail("mounting a tmpfs on /run");
  }
  if (mkdir("/run/systemd", 0755) != 0 || mkdir("/run/systemd/journal", 0755) != 0) {
    fail("creating /run/systemd/journal");
  }
  for (const JournalCase& c : cases) {
    Fd journal(c.socket_bound ? socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1);
    if (c.socket_bound) {
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, kJournalSocket, sizeof address.sun_path - 1);
      if (journal.get() < 0 ||
          bind(journal.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        fail("binding the journal socket");
      }
    }
    const ProbeRun run = RunProbe(c.settings, c.args, journal.get());
    unlink(kJournalSocket);
    if (!run.error.empty()) {
      SendRecord(report, kFailure, run.error);
    }
    SendRecord(report, kOut, run.out);
    for (const std::string& datagram : run.datagrams) {
      SendRecord(report, kDatagram, datagram);
    }
    SendRecord(report, kExitCode, std::to_string(run.exit_code));
  }
  _exit(0);
}

/// Runs `cases` in a private journal; an empty result with `skip` set when no
/// mount namespace can be made here.
std::vector<ProbeRun> RunWithPrivateJournal(const std::vector<JournalCase>& cases,
                                            std::string* skip) {
  std::vector<ProbeRun> runs;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return runs;
  }
  Fd report(ends[0]);
  Fd report_writer(ends[1]);
  std::cout.flush();
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
  } else if (child == 0) {
    report.reset();
    ServeJournal(report_writer.get(), cases);
  }
  report_writer.reset();
  std::string bytes;
  const Clock::time_point deadline = Clock::now() + kProbeDeadline * (cases.size() + 1);
  std::vector<char> buffer(1 << 16);
  for (pollfd fd{report.get(), POLLIN, 0};
       child > 0 && poll(&fd, 1, MillisecondsLeft(deadline)) > 0;) {
    const ssize_t n = read(report.get(), buffer.data(), buffer.size());
    if (n <= 0) {
      break;
    }
    bytes.append(buffer.data(), static_cast<size_t>(n));
  }
  if (child > 0) {
    kill(child, SIGKILL);  // gone already unless it overran the deadline
    waitpid(child, nullptr, 0);
  }

  ProbeRun run;
  for (size_t at = 0; at + 1 + sizeof(uint64_t) <= bytes.size();) {
    uint64_t size = 0;
    std::memcpy(&size, bytes.data() + at + 1, sizeof size);
    const std::string value = bytes.substr(at + 1 + sizeof size, size);
    switch (bytes[at]) {
      case kSkip:
        *skip = value;
        break;
      case kFailure:
        ADD_FAILURE() << value;
        break;
      case kOut:
        run.out = value;
        break;
      case kDatagram:
        run.datagrams.push_back(value);
        break;
      default:
        run.exit_code = std::stoi(value);
        runs.push_back(std::exchange(run, ProbeRun{}));
    }
    at += 1 + sizeof size + size;
  }
  if (skip->empty() && runs.size() != cases.size()) {
    ADD_FAILURE() << "the namespace child reported " << runs.size() << " of " << cases.size()
                  << " runs";
  }
  return runs;
}

/// Decodes libsystemd's native journal protocol: "KEY=value\n", or for values
/// with a newline "KEY\n", a 64-bit little-endian length, the value and "\n".
std::map<std::string, std::string> JournalFields(const std::string& datagram) {
  std::map<std::string, std::string> fields;
  for (size_t at = 0; at < datagram.size();) {
    const size_t end = datagram.find('\n', at);
    const size_t equals = datagram.find('=', at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated field in " << datagram;
      break;
    }
    if (equals < end) {
      fields[datagram.substr(at, equals - at)] = datagram.substr(equals + 1, end - equals - 1);
      at = end + 1;
      continue;
    }
    uint64_t size = 0;
    for (size_t i = 0; i < sizeof size && end + 1 + i < datagram.size(); ++i) {
      size |= uint64_t{static_cast<unsigned char>(datagram[end + 1 + i])} << (8 * i);
    }
    fields[datagram.substr(at, end - at)] = datagram.substr(end + 1 + sizeof size, size);
    at = end + 1 + sizeof size + size + 1;
  }
  return fields;
}

/// The line of the probe's source holding `marker`, as the compiler numbered it.
std::string ProbeLineOf(const std::string& marker) {
  std::ifstream source(KESTRUNE_LOGGER_PROBE_SOURCE);
  int number = 0;
  for (std::string line; std::getline(source, line);) {
    ++number;
    if (line.find(marker) != std::string::npos) {
      return std::to_string(number);
    }
  }
  ADD_FAILURE() << "no " << marker << " in " << KESTRUNE_LOGGER_PROBE_SOURCE;
  return {};
}

TEST(Logger, environment_notices_appear_in_order_only_for_bad_or_missing_values) {
  const std::string line = "  1 [INFO] info 1\n";
  const struct {
    std::vector<std::string> settings;
    std::string out;
  } cases[] = {
      {{}, kStdoutNotSet + kSystemdNotSet + kLevelNotSet + line},
      {{"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"}, line},
      {{"SPDLOG_STDOUT=TRUE", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"}, kStdoutInvalid + line},
      {{"SPDLOG_STDOUT=", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"}, kStdoutInvalid + line},
      {{"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=yes", "SPDLOG_LEVEL=info"}, kSystemdInvalid + line},
      {{"SPDLOG_STDOUT=true", "SPDLOG_LEVEL=info"}, kSystemdNotSet + line},
      {{"SPDLOG_STDOUT=true ", "SPDLOG_SYSTEMD=True", "SPDLOG_LEVEL=Info"},
       kStdoutInvalid + kSystemdInvalid + kLevelInvalid + line},
      // No sink at all: the notices are all that is written.
      {{"SPDLOG_STDOUT=false", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"}, ""},
      {{"SPDLOG_STDOUT=false", "SPDLOG_LEVEL=info"}, kSystemdNotSet},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.settings));
    const ProbeRun run = RunProbe(c.settings, {"debug:1", "info:1"});
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, c.out);
  }
}

TEST(Logger, level_filter_neither_writes_nor_counts_lines_below_it) {
  const std::string all =
      "  1 [DEBUG] debug 1\n  2 [INFO] info 1\n  3 [WARN] warn 1\n"
      "  4 [ERROR] error 1\n";
  const std::string from_info = "  1 [INFO] info 1\n  2 [WARN] warn 1\n  3 [ERROR] error 1\n";
  const struct {
    const char* level;  // nullptr: unset
    std::string out;
  } cases[] = {
      {"trace", all},
      {"debug", all},
      {"info", from_info},
      {"warning", "  1 [WARN] warn 1\n  2 [ERROR] error 1\n"},
      {"error", "  1 [ERROR] error 1\n"},
      {"critical", ""},
      {"warn", kLevelInvalid + from_info},
      {"off", kLevelInvalid + from_info},
      {"INFO", kLevelInvalid + from_info},
      {nullptr, kLevelNotSet + from_info},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level == nullptr ? "unset" : c.level);
    std::vector<std::string> settings = {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false"};
    if (c.level != nullptr) {
      settings.push_back(std::string("SPDLOG_LEVEL=") + c.level);
    }
    const ProbeRun run = RunProbe(settings, {"debug:1", "info:1", "warn:1", "error:1"});
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, c.out);
  }
}

const std::vector<std::string> kAllValid = {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false",
                                            "SPDLOG_LEVEL=info"};

TEST(Logger, line_numbers_run_from_1_to_127_then_wrap_to_0) {
  const ProbeRun run = RunProbe(kAllValid, {"info:260"});
  ASSERT_EQ(run.error, "");
  EXPECT_EQ(run.exit_code, 0);
  std::istringstream out(run.out);
  std::vector<std::string> lines;
  for (std::string line; std::getline(out, line);) {
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 260u);
  EXPECT_EQ(lines[0], "  1 [INFO] info 1");
  EXPECT_EQ(lines[9], " 10 [INFO] info 10");
  EXPECT_EQ(lines[126], "127 [INFO] info 127");
  EXPECT_EQ(lines[127], "  0 [INFO] info 128");
  EXPECT_EQ(lines[128], "  1 [INFO] info 129");
  EXPECT_EQ(lines[255], "  0 [INFO] info 256");  // the 8-bit counter wraps here
  EXPECT_EQ(lines[256], "  1 [INFO] info 257");
}

TEST(Logger, line_longer_than_any_inline_buffer_is_written_whole) {
  const ProbeRun run = RunProbe(kAllValid, {"long:5000", "info:1"});
  ASSERT_EQ(run.error, "");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "  1 [INFO] " + std::string(5000, 'x') + "\n  2 [INFO] info 1\n");
}

TEST(Logger, concurrent_lines_stay_whole_and_each_takes_its_own_number) {
  const ProbeRun run = RunProbe(kAllValid, {"threads:1024"});
  ASSERT_EQ(run.error, "");
  EXPECT_EQ(run.exit_code, 0);
  // 4096 lines: every number 0..127 32 times, every text four times.
  std::map<int, int> numbers;
  std::map<std::string, int> texts;
  std::istringstream out(run.out);
  for (std::string line; std::getline(out, line);) {
    ASSERT_GT(line.size(), 11u) << line;
    ASSERT_EQ(line.substr(3, 8), " [INFO] ") << line;
    ++numbers[std::stoi(line.substr(0, 3))];
    ++texts[line.substr(11)];
  }
  ASSERT_EQ(numbers.size(), 128u);
  EXPECT_EQ(numbers.begin()->first, 0);
  EXPECT_EQ(numbers.rbegin()->first, 127);
  for (const auto& [number, times] : numbers) {
    EXPECT_EQ(times, 32) << "number " << number;
  }
  ASSERT_EQ(texts.size(), 1024u);
  for (const auto& [text, times] : texts) {
    EXPECT_EQ(times, 4) << text;
  }
}

TEST(Logger, instance_keeps_its_first_name) {
  kestrune::Logger& first = kestrune::Logger::Instance("spdlog");
  EXPECT_EQ(&kestrune::Logger::Instance("another"), &first);
  ASSERT_NE(first.spdlog_logger(), nullptr);
  EXPECT_EQ(first.spdlog_logger()->name(), "spdlog");
}

TEST(Logger, journal_entry_carries_line_priority_identifier_and_call_site) {
  const std::vector<std::string> settings = {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=true",
                                             "SPDLOG_LEVEL=debug"};
  std::string skip;
  const std::vector<ProbeRun> runs = RunWithPrivateJournal(
      {{settings, {"debug:1", "info:1", "warn:1", "error:1", "lambda:1", "multiline:1"}, true}},
      &skip);
  if (!skip.empty()) {
    GTEST_SKIP() << "no private mount namespace for a journal socket (" << skip << ")";
  }
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].exit_code, 0);
  // All three variables valid: stdout holds the log lines and nothing else.
  EXPECT_EQ(runs[0].out,
            "  1 [DEBUG] debug 1\n  2 [INFO] info 1\n  3 [WARN] warn 1\n  4 [ERROR] error 1\n"
            "  5 [INFO] lambda 1\n  6 [INFO] multi\nline 1\n");
  const struct {
    std::string message;
    std::string priority;
    std::string marker;
    std::string function;
  } expected[] = {
      {"  1 [DEBUG] debug 1", "7", "KLOG_DEBUG(\"debug {}\"", "main"},
      {"  2 [INFO] info 1", "6", "KLOG_INFO(\"info {}\"", "main"},
      {"  3 [WARN] warn 1", "4", "KLOG_WARN(\"warn {}\"", "main"},
      {"  4 [ERROR] error 1", "3", "KLOG_ERROR(\"error {}\"", "main"},
      {"  5 [INFO] lambda 1", "6", "KLOG_INFO(\"lambda {}\"", "operator()"},
      {"  6 [INFO] multi\nline 1", "6", "KLOG_INFO(\"multi\\nline {}\"", "main"},
  };
  ASSERT_EQ(runs[0].datagrams.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const std::map<std::string, std::string> want = {{"MESSAGE", expected[i].message},
                                                     {"PRIORITY", expected[i].priority},
                                                     {"SYSLOG_IDENTIFIER", "spdlog"},
                                                     {"CODE_FILE", KESTRUNE_LOGGER_PROBE_SOURCE},
                                                     {"CODE_LINE", ProbeLineOf(expected[i].marker)},
                                                     {"CODE_FUNC", expected[i].function}};
    EXPECT_EQ(JournalFields(runs[0].datagrams[i]), want);
  }
}

TEST(Logger, journal_gets_entries_only_when_systemd_is_exactly_true) {
  const auto with_systemd = [](const std::string& value) {
    return std::vector<std::string>{"SPDLOG_STDOUT=false", "SPDLOG_SYSTEMD=" + value,
                                    "SPDLOG_LEVEL=warning"};
  };
  const std::vector<JournalCase> cases = {
      {with_systemd("true"), {"info:1", "warn:2"}, true},
      {with_systemd("TRUE"), {"warn:1"}, true},
      {with_systemd("false"), {"warn:1"}, true},
      {{"SPDLOG_STDOUT=false", "SPDLOG_LEVEL=warning"}, {"warn:1"}, true},
      // No journal listening: lines are lost, the process is not.
      {with_systemd("true"), {"warn:1"}, false},
  };
  const std::string expected_out[] = {"", kSystemdInvalid, "", kSystemdNotSet, ""};
  const size_t expected_entries[] = {2, 0, 0, 0, 0};
  std::string skip;
  const std::vector<ProbeRun> runs = RunWithPrivateJournal(cases, &skip);
  if (!skip.empty()) {
    GTEST_SKIP() << "no private mount namespace for a journal socket (" << skip << ")";
  }
  ASSERT_EQ(runs.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(::testing::PrintToString(cases[i].settings));
    EXPECT_EQ(runs[i].exit_code, 0);
    EXPECT_EQ(runs[i].out, expected_out[i]);
    ASSERT_EQ(runs[i].datagrams.size(), expected_entries[i]);
  }
  // Filtered lines are not counted here either.
  EXPECT_EQ(JournalFields(runs[0].datagrams[0])["MESSAGE"], "  1 [WARN] warn 1");
  EXPECT_EQ(JournalFields(runs[0].datagrams[1])["MESSAGE"], "  2 [WARN] warn 2");
}

}  // namespace
