#include "flow_event_handler.hpp"

#include <cstdint>

#include <kestrune_diagnostic_trace/logger.hpp>

namespace kestrune {
namespace scenario {

using trace::FlowCheckStatus;

void FlowEventHandler::operator()(const std::string& flow_id,
                                  const std::shared_ptr<trace::FlowCheckResult>& result) const {
  if (!result) {
    KLOG_ERROR("FlowEventHandler: Flow '{}' check result is null", flow_id);
    return;
  }
  // Printed as a number so that values outside the enumeration stay readable.
  const auto status = static_cast<uint32_t>(result->status);
  switch (result->status) {
    case FlowCheckStatus::SUCCESS:
      KLOG_ERROR("FlowEventHandler: Flow '{}' success, status: {}", flow_id, status);
      break;
    case FlowCheckStatus::FAILED:
      KLOG_ERROR("FlowEventHandler: Flow '{}' failed, status: {}", flow_id, status);
      break;
    case FlowCheckStatus::INVALID_POINT:
      KLOG_ERROR("FlowEventHandler: Flow '{}' invalid point, status: {}", flow_id, status);
      break;
    case FlowCheckStatus::DUPLICATED_POINT:
      KLOG_ERROR("FlowEventHandler: Flow '{}' duplicated point, status: {}", flow_id, status);
      break;
    case FlowCheckStatus::MISSING_POINT:
      KLOG_ERROR("FlowEventHandler: Flow '{}' missing point, status: {}", flow_id, status);
      break;
    case FlowCheckStatus::INVALID_ORDER:
      KLOG_ERROR("FlowEventHandler: Flow '{}' invalid order, status: {}", flow_id, status);
      break;
    case FlowCheckStatus::INVALID_FLOW:
      KLOG_ERROR("FlowEventHandler: Flow '{}' invalid flow, status: {}", flow_id, status);
      break;
    default:
      KLOG_ERROR("FlowEventHandler: Flow '{}' unknown status: {}", flow_id, status);
      break;
  }
  if (result->failure_point) {
    KLOG_ERROR("FlowEventHandler: failure point '{}', index: {}", result->failure_point->point_id,
               result->failure_point->index);
  }
  if (result->desired_point) {
    KLOG_ERROR("FlowEventHandler:  desired point '{}', event_id '{}'",
               result->desired_point->point_id, result->desired_point->event_id);
  }
}

}  // namespace scenario
}  // namespace kestrune
