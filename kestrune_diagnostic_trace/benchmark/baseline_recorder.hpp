#ifndef KESTRUNE_DIAGNOSTIC_TRACE__BENCHMARK__BASELINE_RECORDER_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__BENCHMARK__BASELINE_RECORDER_HPP_

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <kestrune_diagnostic_trace/trace_point.hpp>

namespace kestrune {
namespace bench {

/// The least work any recorder of points must do, the yardstick every figure is divided by.
///
/// Per call: `std::make_shared` of a point (its constructor reads the system clock),
/// lock and unlock of one mutex, one lookup of the flow id, one `deque` push and one
/// string compare against the expected point. After the last point of a run the queue
/// is emptied, so memory stays flat. The table holds the same flow ids, inserted in
/// the same order, as the engine under test, so that its one lookup costs the same.
/// Thread-safe.
class BaselineRecorder {
 public:
  BaselineRecorder(const std::vector<std::string>& flow_ids,
                   const std::vector<std::string>& point_ids);

  /// Records `point_id` into the flow; true when it was the expected point.
  bool Record(const std::string& flow_id, const std::string& point_id);

 private:
  struct Flow {
    std::deque<std::shared_ptr<trace::TracePoint>> queue;
    std::vector<std::string> expected;
    size_t next{0};
  };

  std::mutex mutex_;
  std::unordered_map<std::string, Flow> flows_;
};

}  // namespace bench
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__BENCHMARK__BASELINE_RECORDER_HPP_
