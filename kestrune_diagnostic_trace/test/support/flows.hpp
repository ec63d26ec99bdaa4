#ifndef SUPPORT__FLOWS_HPP_
#define SUPPORT__FLOWS_HPP_

#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/trace_flow_cfg.hpp>

namespace kestrune_test {

/// The point ids of a flow, in order.
inline std::vector<std::string> PointIds(const kestrune::trace::TraceFlowCfg& flow) {
  std::vector<std::string> ids;
  for (const auto& point : flow.flow_points) {
    ids.push_back(point->point_id);
  }
  return ids;
}

}  // namespace kestrune_test

#endif  // SUPPORT__FLOWS_HPP_
