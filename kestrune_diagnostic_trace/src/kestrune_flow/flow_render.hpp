#ifndef KESTRUNE_FLOW__FLOW_RENDER_HPP_
#define KESTRUNE_FLOW__FLOW_RENDER_HPP_

#include <memory>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/trace_flow_cfg.hpp>

namespace kestrune {
namespace flow_tool {

enum class RenderFormat { kMermaid, kDot };

/// Draws `flows` as one graph, a cluster per flow. Ordered flows chain their
/// points, with a dotted edge past each optional point (the running check lets
/// one point be skipped); unordered flows list their points unconnected.
/// Optional points are dashed, repeated points carry a self-loop with their
/// counts, and labels give event ids and timeouts.
std::string RenderFlows(const std::vector<std::shared_ptr<trace::TraceFlowCfg>>& flows,
                        RenderFormat format);

}  // namespace flow_tool
}  // namespace kestrune

#endif  // KESTRUNE_FLOW__FLOW_RENDER_HPP_
