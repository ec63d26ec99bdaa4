#ifndef KESTRUNE_DIAGNOSTIC_TRACE__TRACE_POINT_HANDLE_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__TRACE_POINT_HANDLE_HPP_

#include <cstdint>
#include <string>

namespace kestrune {
namespace trace {

class FlowTrace;

namespace detail {
struct FlowState;
}  // namespace detail

/// One point of one flow, resolved once, for callers that trace it often (a
/// control loop): `auto grab = tracer->Point("pick", "grab"); grab.Trace(true);`.
///
/// `Trace` does exactly what `FlowTrace::Trace(flow_id, point_id, success)`
/// does, without looking the flow up by its id each time. The handle follows
/// the engine: after `Init`, `RemoveTraceFlow` or a registration it finds its
/// flow again on its next use; while the flow is gone it is refused with the
/// same warning as the string call, and it works again once the flow is back.
/// Changes made through the shared configuration take effect at once, as for
/// the string call.
///
/// Cheap to copy; a copy finds its flow on first use. One handle may be used
/// from several threads at once: what it remembers of its flow is read and
/// written only under the engine mutex.
class TracePointHandle {
 public:
  TracePointHandle(const TracePointHandle& other);
  TracePointHandle& operator=(const TracePointHandle& other);
  ~TracePointHandle() = default;

  /// Records the point, stamped now, and judges it at once.
  void Trace(bool success) const;

  const std::string& flow_id() const { return flow_id_; }
  const std::string& point_id() const { return point_id_; }

 private:
  friend class FlowTrace;

  TracePointHandle(FlowTrace& engine, const std::string& flow_id, const std::string& point_id);

  FlowTrace* engine_;
  std::string flow_id_;
  std::string point_id_;
  // Under the engine mutex: the flow found at `generation_` of the engine's
  // flow table, or none; 0 has not looked yet.
  mutable detail::FlowState* flow_{nullptr};
  mutable uint64_t generation_{0};
};

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__TRACE_POINT_HANDLE_HPP_
