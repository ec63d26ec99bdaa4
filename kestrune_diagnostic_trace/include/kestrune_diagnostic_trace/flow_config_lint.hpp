#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_LINT_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_LINT_HPP_

#include <string>
#include <vector>

#include "kestrune_diagnostic_trace/flow_config.hpp"

namespace kestrune {
namespace trace {

/// Checks a flow configuration before it reaches `FlowTrace::Init`.
///
/// Errors are what `Init` would refuse, drop or throw on (they come from the
/// parser `Init` itself uses, so the two cannot disagree), plus duplicate flow
/// ids, whose later flow `Init` takes silently. Warnings are slips `Init`
/// accepts but that cannot be meant: unknown keys (with the nearest known key),
/// settings without effect, reports that can never be published, event ids a
/// listener cannot tell apart. Findings come in file order, lines and columns
/// counted from 1.
///
/// Pure: no engine, no ROS 2 node, no log output; safe to call from any thread.
std::vector<ConfigFinding> LintFlowConfig(const std::string& text);

/// `LintFlowConfig` on the file at `path`. A file that cannot be read gives a
/// single error finding at line 0, column 0, naming the path and the reason.
std::vector<ConfigFinding> LintFlowConfigFile(const std::string& path);

/// True when `findings` holds an error; with `warnings_are_errors`, any finding.
bool HasErrors(const std::vector<ConfigFinding>& findings, bool warnings_are_errors = false);

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_LINT_HPP_
