#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_TEST__FLOW_SCOPE_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_TEST__FLOW_SCOPE_HPP_

#include <cstdint>
#include <memory>
#include <string>

#include <kestrune_diagnostic_trace/trace_point.hpp>

namespace kestrune {
namespace scenario {

/// One run of a flow as a scope: opening it resets the flow, closing it checks
/// the flow and drops the result.
///
/// A scope with an empty flow id does nothing at all. The check runs in the
/// destructor, so a flow handler that throws terminates the program.
class FlowScope {
 public:
  explicit FlowScope(const std::string& flow_id);
  ~FlowScope();

  // Each scope is one run: a copy would check the flow twice.
  FlowScope(const FlowScope&) = delete;
  FlowScope& operator=(const FlowScope&) = delete;
  FlowScope(FlowScope&&) = delete;
  FlowScope& operator=(FlowScope&&) = delete;

  /// Records the point as reached successfully.
  void Trace(const std::string& point_id);
  /// Records a prepared point as it is.
  void Trace(const std::shared_ptr<trace::TracePoint>& point);
  /// The flow's duration so far in milliseconds; 0 for an empty flow id.
  uint64_t GetFlowDuration();

  const std::string& flow_id() const { return flow_id_; }

 private:
  std::string flow_id_;
};

}  // namespace scenario
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_TEST__FLOW_SCOPE_HPP_
