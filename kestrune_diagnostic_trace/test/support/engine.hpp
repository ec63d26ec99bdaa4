#ifndef SUPPORT__ENGINE_HPP_
#define SUPPORT__ENGINE_HPP_

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "support/temp_file.hpp"

namespace kestrune_test {

/// The engine under test: the process's one FlowTrace.
inline kestrune::trace::FlowTrace* Engine() {
  return kestrune::trace::FlowTrace::GetInstance();
}

/// One event the engine handed to its publish callback, with the topic it came with.
struct SentEvent {
  std::string topic;
  kestrune::trace::DiagnosticEvent event;
};

/// Records what the engine hands to its publish callback. The engine keeps its
/// callback beyond a test, so there is one record for the process and the
/// callback refers to nothing else. Thread-safe: the heartbeat publishes too.
class EventRecorder {
 public:
  static EventRecorder& Instance() {
    static EventRecorder recorder;
    return recorder;
  }

  /// A publish callback that records every event here.
  static kestrune::trace::PublishCallback Callback() {
    return [](const std::string& topic, const kestrune::trace::DiagnosticEvent& event) {
      Instance().Record(topic, event);
      return true;
    };
  }

  void Record(const std::string& topic, const kestrune::trace::DiagnosticEvent& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    sent_.push_back({topic, event});
  }

  /// The events recorded since the last Take, oldest first.
  std::vector<SentEvent> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(sent_, {});
  }

 private:
  EventRecorder() = default;

  std::mutex mutex_;
  std::vector<SentEvent> sent_;
};

/// Starts each test with nothing recorded; Load initialises the engine from a
/// configuration text with the recording callback.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { EventRecorder::Instance().Take(); }

  static void Load(const std::string& yaml) {
    TempFile file(yaml);
    kestrune::trace::PublishCallback callback = EventRecorder::Callback();
    Engine()->Init(file.path(), callback);
  }

  static std::vector<SentEvent> TakeSent() { return EventRecorder::Instance().Take(); }
};

}  // namespace kestrune_test

#endif  // SUPPORT__ENGINE_HPP_
