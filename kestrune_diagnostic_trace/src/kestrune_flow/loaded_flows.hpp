#ifndef KESTRUNE_FLOW__LOADED_FLOWS_HPP_
#define KESTRUNE_FLOW__LOADED_FLOWS_HPP_

#include <memory>
#include <vector>

#include <kestrune_diagnostic_trace/flow_config.hpp>

namespace kestrune {
namespace flow_tool {

/// The flows the engine holds after Init on `parsed`: of several flows with one
/// id only the last, which Init stores over the earlier ones; in file order.
std::vector<std::shared_ptr<trace::TraceFlowCfg>> LoadedFlows(
    const trace::ParsedFlowConfig& parsed);

}  // namespace flow_tool
}  // namespace kestrune

#endif  // KESTRUNE_FLOW__LOADED_FLOWS_HPP_
