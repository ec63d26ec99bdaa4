// The flows as the engine holds them once Init has stored the parser's records.
#include "loaded_flows.hpp"

#include <unordered_map>

namespace kestrune {
namespace flow_tool {

std::vector<std::shared_ptr<trace::TraceFlowCfg>> LoadedFlows(
    const trace::ParsedFlowConfig& parsed) {
  std::unordered_map<std::string, size_t> last;
  for (size_t i = 0; i < parsed.flows.size(); ++i) {
    last[parsed.flows[i]->flow_id] = i;
  }
  std::vector<std::shared_ptr<trace::TraceFlowCfg>> flows;
  for (size_t i = 0; i < parsed.flows.size(); ++i) {
    if (last[parsed.flows[i]->flow_id] == i) {
      flows.push_back(parsed.flows[i]);
    }
  }
  return flows;
}

}  // namespace flow_tool
}  // namespace kestrune
