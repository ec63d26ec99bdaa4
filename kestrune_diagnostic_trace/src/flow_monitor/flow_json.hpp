#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__FLOW_JSON_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__FLOW_JSON_HPP_

#include <cstdint>
#include <string>
#include <vector>

#include "flow_model.hpp"

namespace kestrune {
namespace monitor {

/// The body of GET /api/flows: {"version": N, "full": bool, "left_out": N,
/// "left_out_rule": text, "flows": [...]}, one object per flow with flow_id,
/// node, name, flow_name, hardware_id, level, message, age_s, values,
/// configured, points, events and runs.
///
/// `full` tells the page whether the list replaces what it shows or updates
/// it. Texts that are not valid UTF-8 are rendered with U+FFFD in place of the
/// bad bytes, never refused: they come from the robot, not from us.
std::string FlowsJson(const std::vector<FlowView>& flows, uint64_t version, bool full,
                      const ModelSummary& summary = {});

}  // namespace monitor
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__FLOW_JSON_HPP_
