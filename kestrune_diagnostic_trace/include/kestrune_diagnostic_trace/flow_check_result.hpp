#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECK_RESULT_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECK_RESULT_HPP_

#include <cstdint>
#include <memory>

#include "kestrune_diagnostic_trace/trace_point.hpp"
#include "kestrune_diagnostic_trace/trace_point_cfg.hpp"

namespace kestrune {
namespace trace {

/// The verdict of a flow check.
enum class FlowCheckStatus : uint32_t {
  SUCCESS = 0,
  /// A critical point was recorded as failed.
  FAILED = 1,
  /// A recorded point the configuration does not expect there, or at all.
  INVALID_POINT = 2,
  /// A recorded point repeating the one recorded just before it.
  DUPLICATED_POINT = 3,
  /// A configured point that was not recorded.
  MISSING_POINT = 4,
  /// A recorded point out of order.
  INVALID_ORDER = 5,
  /// The flow is not registered, or has no recorded or no configured points.
  INVALID_FLOW = 6,
};

/// What a flow check found; shared between the caller and the flow handler.
///
/// The pointers share ownership with the flow queue and the configuration, so
/// a result stays valid after the flow is reset, re-registered or removed.
struct FlowCheckResult {
  FlowCheckStatus status{FlowCheckStatus::SUCCESS};
  /// The recorded point at which the check failed; empty when only a configured point is concerned.
  std::shared_ptr<TracePoint> failure_point;
  /// The configured point the check expected when it failed.
  std::shared_ptr<TracePointCfg> desired_point;
};

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECK_RESULT_HPP_
