#ifndef SUPPORT__CAPTURED_LOG_HPP_
#define SUPPORT__CAPTURED_LOG_HPP_

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/logger.hpp>

namespace kestrune_test {

/// Captures what the logging facade writes to standard output while in scope.
/// The facade is built before capturing starts, so its environment notices stay out.
class CapturedLog {
 public:
  CapturedLog() {
    kestrune::Logger::Instance("spdlog");
    ::testing::internal::CaptureStdout();
  }
  ~CapturedLog() {
    if (!taken_) {
      ::testing::internal::GetCapturedStdout();
    }
  }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  /// Stops capturing and returns the lines with their number prefix removed
  /// ("[INFO] text"); callable once.
  std::vector<std::string> Lines() {
    taken_ = true;
    std::istringstream stream(::testing::internal::GetCapturedStdout());
    std::vector<std::string> lines;
    for (std::string line; std::getline(stream, line);) {
      lines.push_back(line.size() > 4 ? line.substr(4) : line);
    }
    return lines;
  }

 private:
  bool taken_{false};
};

/// True when `lines` holds `expected` exactly, as a whole line.
inline bool HasLine(const std::vector<std::string>& lines, const std::string& expected) {
  for (const auto& line : lines) {
    if (line == expected) {
      return true;
    }
  }
  return false;
}

}  // namespace kestrune_test

#endif  // SUPPORT__CAPTURED_LOG_HPP_
