#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_RENDER_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_RENDER_HPP_

#include <memory>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/flow_config.hpp>

namespace kestrune {
namespace flow_tool {

enum class RenderFormat { kMermaid, kDot };

/// Draws `flows` as one graph, a cluster per flow. Ordered flows chain their
/// points, with a dotted edge past each optional point (the running check lets
/// one point be skipped); unordered flows list their points unconnected.
/// Optional points are dashed, repeated points carry a self-loop with their
/// counts, and every key with a label in the format's table that is set to
/// other than its default is written in its flow's title or its point's box
/// (event ids, topics, timeouts, stall times, the heartbeat's period). `parsed`
/// holds what belongs to the file rather than to a flow.
std::string RenderFlows(const trace::ParsedFlowConfig& parsed,
                        const std::vector<std::shared_ptr<trace::TraceFlowCfg>>& flows,
                        RenderFormat format);

}  // namespace flow_tool
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_RENDER_HPP_
