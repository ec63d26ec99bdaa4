#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_TEST__FLOW_EVENT_HANDLER_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_TEST__FLOW_EVENT_HANDLER_HPP_

#include <memory>
#include <string>

#include <kestrune_diagnostic_trace/flow_check_result.hpp>

namespace kestrune {
namespace scenario {

/// Flow handler that writes each check result as one to three error lines:
/// the status, then the failure point and the desired point when they are set.
///
/// Stateless. It runs on the checking thread with the engine locked, and it
/// never calls into the engine.
class FlowEventHandler {
 public:
  void operator()(const std::string& flow_id,
                  const std::shared_ptr<trace::FlowCheckResult>& result) const;
};

}  // namespace scenario
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_TEST__FLOW_EVENT_HANDLER_HPP_
