#include "kestrune_diagnostic_trace/trace_point_handle.hpp"

#include "kestrune_diagnostic_trace/flow_trace.hpp"

namespace kestrune {
namespace trace {

TracePointHandle::TracePointHandle(FlowTrace& engine, const std::string& flow_id,
                                   const std::string& point_id)
    : engine_(&engine), flow_id_(flow_id), point_id_(point_id) {}

// What the other handle found is its own, read under the engine mutex: a copy
// finds the flow again.
TracePointHandle::TracePointHandle(const TracePointHandle& other)
    : engine_(other.engine_), flow_id_(other.flow_id_), point_id_(other.point_id_) {}

TracePointHandle& TracePointHandle::operator=(const TracePointHandle& other) {
  if (this != &other) {
    engine_ = other.engine_;
    flow_id_ = other.flow_id_;
    point_id_ = other.point_id_;
    flow_ = nullptr;
    generation_ = 0;
  }
  return *this;
}

void TracePointHandle::Trace(bool success) const {
  engine_->traceHandle(*this, success);
}

}  // namespace trace
}  // namespace kestrune
