// The monitor's flow file, read and judged as the robot reads it.
#include "monitor_config.hpp"

#include <map>
#include <utility>

#include "lint_report.hpp"
#include "topic_name.hpp"

namespace kestrune {
namespace monitor {

trace::ParsedFlowConfig LoadMonitorConfig(const std::string& path, std::ostream& errors) {
  if (path.empty()) {
    return {};
  }
  trace::FlowConfigText text = trace::ReadFlowConfigFile(path);
  if (text.error) {
    throw ConfigFileError(flow_tool::FormatText({{path, {*text.error}}}));
  }
  trace::ParsedFlowConfig config = trace::ParseFlowConfig(text.text);
  for (const trace::ConfigFinding& finding : config.findings) {
    if (trace::IsFileLevel(finding.code)) {
      throw ConfigFileError(flow_tool::FormatText({{path, {finding}}}));
    }
  }
  // The robot loads what parses and drops the rest: show the same, and say what was dropped.
  errors << flow_tool::FormatText({{path, config.findings}});

  std::map<std::string, int> uses;
  for (const auto& flow : config.flows) {
    ++uses[flow->flow_id];
  }
  for (const auto& [flow_id, count] : uses) {
    if (count > 1) {
      errors << path << ": warning: flow id '" << flow_id << "' is used by " << count
             << " flows; the robot keeps the last, which is the one shown\n";
    }
  }
  std::vector<std::shared_ptr<trace::TraceFlowCfg>> served;
  for (auto& flow : trace::LoadedFlows(config)) {
    const std::string refusal =
        flow->diag_topic.empty() ? std::string() : flow_tool::TopicNameProblem(flow->diag_topic);
    if (refusal.empty()) {
      served.push_back(std::move(flow));
    } else {
      errors << path << ": error: flow '" << flow->flow_id << "': diag_topic '" << flow->diag_topic
             << "' is not a valid ROS 2 topic name: " << refusal << "; the flow is left out\n";
    }
  }
  config.flows = std::move(served);
  return config;
}

}  // namespace monitor
}  // namespace kestrune
