#ifndef KESTRUNE_DIAGNOSTIC_TRACE__LOGGER_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__LOGGER_HPP_

#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include <fmt/format.h>
#include <spdlog/logger.h>

namespace kestrune {

/// The process-wide logging facade: one spdlog logger whose sinks and level
/// come from SPDLOG_STDOUT, SPDLOG_SYSTEMD and SPDLOG_LEVEL, read once when the
/// first line is logged.
///
/// Every line is prefixed with a rolling three-digit number and a level tag.
/// Thread-safe: the line counter is atomic and the sinks are spdlog's locking ones.
class Logger {
 public:
  /// Returns the one Logger; the first call builds it with `name` as the spdlog
  /// logger's name, later calls ignore `name`. Destroyed at process exit.
  static Logger& Instance(const std::string& name);

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;
  Logger(Logger&&) = delete;
  Logger& operator=(Logger&&) = delete;

  /// Formats and writes one line; use the KLOG_* macros, which supply the call site.
  template <typename... Args>
  void Log(spdlog::level::level_enum level, const char* file, int line, const char* function,
           fmt::format_string<Args...> format, Args&&... args) {
    // Tested first: a filtered line is neither counted nor written, so it need
    // not be formatted. Callers on hot paths log lines that are usually filtered.
    if (level_ > static_cast<int>(level)) {
      return;
    }
    fmt::memory_buffer text;
    fmt::format_to(std::back_inserter(text), format, std::forward<Args>(args)...);
    const uint8_t number = static_cast<uint8_t>(count_.fetch_add(1, std::memory_order_relaxed) + 1);
    // Construction may have stopped before the logger existed; the line still counts.
    // logger_ is set once, by the constructor, so it is read without a copy.
    if (logger_) {
      fmt::memory_buffer prefixed;
      AppendPrefix(prefixed, level, number);
      prefixed.append(text.data(), text.data() + text.size());
      logger_->log(spdlog::source_loc{file, line, function}, level,
                   spdlog::string_view_t(prefixed.data(), prefixed.size()));
    }
  }

  /// Minimum level in spdlog numbering (0 trace ... 5 critical).
  int level() const { return level_; }
  /// The spdlog logger; empty when its construction failed.
  const std::shared_ptr<spdlog::logger>& spdlog_logger() const { return logger_; }

 private:
  explicit Logger(const std::string& name);

  static void AppendPrefix(fmt::memory_buffer& line, spdlog::level::level_enum level,
                           uint8_t number);

  std::shared_ptr<spdlog::logger> logger_;
  std::atomic<uint8_t> count_{0};
  int level_{2};
};

}  // namespace kestrune

// The log-line family: a fmt format string and its arguments; the call site
// (file, line, enclosing function) is recorded with every line.
#define KLOG_DEBUG(...)                                                                  \
  ::kestrune::Logger::Instance("spdlog").Log(::spdlog::level::debug, __FILE__, __LINE__, \
                                             static_cast<const char*>(__FUNCTION__), __VA_ARGS__)
#define KLOG_INFO(...)                                                                  \
  ::kestrune::Logger::Instance("spdlog").Log(::spdlog::level::info, __FILE__, __LINE__, \
                                             static_cast<const char*>(__FUNCTION__), __VA_ARGS__)
#define KLOG_WARN(...)                                                                  \
  ::kestrune::Logger::Instance("spdlog").Log(::spdlog::level::warn, __FILE__, __LINE__, \
                                             static_cast<const char*>(__FUNCTION__), __VA_ARGS__)
#define KLOG_ERROR(...)                                                                \
  ::kestrune::Logger::Instance("spdlog").Log(::spdlog::level::err, __FILE__, __LINE__, \
                                             static_cast<const char*>(__FUNCTION__), __VA_ARGS__)

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__LOGGER_HPP_
