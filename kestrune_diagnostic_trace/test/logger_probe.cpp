// Logs lines through the KLOG_* family as its arguments say, so that each logging
// environment can be tried in a fresh process (the facade reads it once).
//
// Arguments, run in order: <kind>:<count>, where kind is debug, info, warn or error
// (lines "<kind> <n>" logged in main), lambda (info lines "lambda <n>" logged inside a
// lambda), threads (four threads each logging <count> lambda lines), multiline
// (info lines "multi\nline <n>") or long (one info line of <count> letters x).
#include <cstdlib>
#include <iostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <kestrune_diagnostic_trace/logger.hpp>

int main(int argc, char** argv) {
  static const std::set<std::string> kKinds = {"debug",  "info",    "warn",      "error",
                                               "lambda", "threads", "multiline", "long"};
  const auto from_lambda = [](int n) { KLOG_INFO("lambda {}", n); };
  for (int i = 1; i < argc; ++i) {
    const std::string arg(argv[i]);
    const std::string::size_type colon = arg.find(':');
    const std::string kind = arg.substr(0, colon);
    if (colon == std::string::npos || kKinds.count(kind) == 0) {
      std::cerr << "logger_probe: unknown argument " << arg << "\n";
      return 2;
    }
    const int count = std::atoi(arg.c_str() + colon + 1);
    if (kind == "threads") {
      std::vector<std::thread> threads;
      for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&from_lambda, count] {
          for (int n = 1; n <= count; ++n) {
            from_lambda(n);
          }
        });
      }
      for (std::thread& thread : threads) {
        thread.join();
      }
      continue;
    }
    if (kind == "long") {
      KLOG_INFO("{}", std::string(static_cast<size_t>(count), 'x'));
      continue;
    }
    for (int n = 1; n <= count; ++n) {
      if (kind == "debug") {
        KLOG_DEBUG("debug {}", n);
      } else if (kind == "info") {
        KLOG_INFO("info {}", n);
      } else if (kind == "warn") {
        KLOG_WARN("warn {}", n);
      } else if (kind == "error") {
        KLOG_ERROR("error {}", n);
      } else if (kind == "lambda") {
        from_lambda(n);
      } else {
        KLOG_INFO("multi\nline {}", n);
      }
    }
  }
  return 0;
}
