#ifndef KESTRUNE_FLOW__FLOW_SHOW_HPP_
#define KESTRUNE_FLOW__FLOW_SHOW_HPP_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/trace_flow_cfg.hpp>

namespace kestrune {
namespace flow_tool {

/// The flows as a flow file with every key written out, defaults included, so a
/// user sees what the checks will hold a run to. Loading the result gives the
/// same flows. `heartbeat_period_ms` is written as the heartbeat flow's duration_ms.
std::string ShowFlows(const std::vector<std::shared_ptr<trace::TraceFlowCfg>>& flows,
                      uint32_t heartbeat_period_ms);

}  // namespace flow_tool
}  // namespace kestrune

#endif  // KESTRUNE_FLOW__FLOW_SHOW_HPP_
