#include "baseline_recorder.hpp"

namespace kestrune {
namespace bench {

BaselineRecorder::BaselineRecorder(const std::vector<std::string>& flow_ids,
                                   const std::vector<std::string>& point_ids) {
  for (const auto& flow_id : flow_ids) {
    flows_[flow_id].expected = point_ids;
  }
}

bool BaselineRecorder::Record(const std::string& flow_id, const std::string& point_id) {
  auto point = std::make_shared<trace::TracePoint>(point_id, true);
  std::lock_guard<std::mutex> lock(mutex_);
  auto entry = flows_.find(flow_id);
  if (entry == flows_.end()) {
    return false;
  }
  Flow& flow = entry->second;
  flow.queue.push_back(std::move(point));
  const bool expected = point_id == flow.expected[flow.next];
  if (++flow.next == flow.expected.size()) {
    flow.queue.clear();
    flow.next = 0;
  }
  return expected;
}

}  // namespace bench
}  // namespace kestrune
