#include "kestrune_diagnostic_trace/logger.hpp"

#include <cstdlib>
#include <iostream>
#include <vector>

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/sinks/systemd_sink.h>

namespace kestrune {

namespace {

const char* EnvValue(const char* name) {
  return std::getenv(name);
}

int LevelFromName(const std::string& name, bool* valid) {
  static const std::pair<const char*, int> kLevels[] = {
      {"trace", 0}, {"debug", 1}, {"info", 2}, {"warning", 3}, {"error", 4}, {"critical", 5}};
  for (const auto& [level_name, level] : kLevels) {
    if (name == level_name) {
      *valid = true;
      return level;
    }
  }
  *valid = false;
  return 2;
}

}  // namespace

Logger& Logger::Instance(const std::string& name) {
  static Logger instance(name);
  return instance;
}

Logger::Logger(const std::string& name) {
  try {
    std::vector<spdlog::sink_ptr> sinks;

    const char* to_stdout = EnvValue("SPDLOG_STDOUT");
    if (to_stdout == nullptr) {
      std::cout << "environment variable SPDLOG_STDOUT is not set, and set true\n";
    } else if (std::string(to_stdout) != "true" && std::string(to_stdout) != "false") {
      std::cout << "environment variable SPDLOG_STDOUT is invalid, and set true\n";
    }
    if (to_stdout == nullptr || std::string(to_stdout) != "false") {
      sinks.push_back(
          std::make_shared<spdlog::sinks::ansicolor_stdout_sink<spdlog::details::console_mutex>>(
              spdlog::color_mode::automatic));
    }

    const char* to_journal = EnvValue("SPDLOG_SYSTEMD");
    if (to_journal == nullptr) {
      std::cout << "environment variable SPDLOG_SYSTEMD is not set, and set false\n";
    } else if (std::string(to_journal) != "true" && std::string(to_journal) != "false") {
      std::cout << "environment variable SPDLOG_SYSTEMD is invalid, and set false\n";
    }
    if (to_journal != nullptr && std::string(to_journal) == "true") {
      sinks.push_back(std::make_shared<spdlog::sinks::systemd_sink<std::mutex>>());
    }

    logger_ = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());

    int level = 2;
    const char* level_name = EnvValue("SPDLOG_LEVEL");
    if (level_name == nullptr) {
      std::cout << "environment variable SPDLOG_LEVEL is not set, and set default level\n";
    } else {
      bool valid = false;
      level = LevelFromName(level_name, &valid);
      if (!valid) {
        std::cout << "environment variable SPDLOG_LEVEL is invalid, and set default level\n";
      }
    }
    level_ = level;
    logger_->set_level(static_cast<spdlog::level::level_enum>(level));
    logger_->set_pattern("%v");
  } catch (const spdlog::spdlog_ex&) {
    // A logger cut short keeps what it reached; Log() copes with an empty logger_.
  }
}

void Logger::AppendPrefix(fmt::memory_buffer& line, spdlog::level::level_enum level,
                          uint8_t number) {
  const unsigned shown = number % 128u;
  auto out = std::back_inserter(line);
  switch (level) {
    case spdlog::level::debug:
      fmt::format_to(out, "{0:3d} [DEBUG] ", shown);
      break;
    case spdlog::level::info:
      fmt::format_to(out, "{0:3d} [INFO] ", shown);
      break;
    case spdlog::level::warn:
      fmt::format_to(out, "{0:3d} [WARN] ", shown);
      break;
    default:
      fmt::format_to(out, "{0:3d} [ERROR] ", shown);
      break;
  }
}

}  // namespace kestrune
