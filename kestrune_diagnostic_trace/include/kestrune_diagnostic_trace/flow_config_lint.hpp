#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_LINT_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_LINT_HPP_

#include <string>
#include <vector>

#include "kestrune_diagnostic_trace/flow_config.hpp"

namespace kestrune {
namespace trace {

/// Checks a flow configuration before it reaches `FlowTrace::Init`. Part of
/// the library kestrune_flow_tools (CMake target
/// kestrune_diagnostic_trace::kestrune_flow_tools), not of the runtime library.
///
/// Errors are what `Init` would refuse, drop or throw on (they come from the
/// parser `Init` itself uses, so the two cannot disagree), what it reads
/// otherwise than editors do (a second document, a key given twice, merge
/// keys, bytes that are not UTF-8), plus duplicate flow ids, whose later flow
/// `Init` takes silently. Warnings are slips `Init` accepts but that cannot be
/// meant: unknown keys (with the nearest known key), settings without effect,
/// reports that can never be published, event ids a listener cannot tell
/// apart, points that are never reached. Findings come in file order, lines
/// and columns counted from 1, each with a stable code.
///
/// Pure: no engine, no ROS 2 node, no log output; safe to call from any thread.
std::vector<ConfigFinding> LintFlowConfig(const std::string& text);

/// `LintFlowConfig` on the file at `path`. A file that cannot be read (see
/// ReadFlowConfigFile) gives a single error finding at line 0, column 0,
/// naming the path and the reason.
std::vector<ConfigFinding> LintFlowConfigFile(const std::string& path);

// HasErrors(findings, warnings_are_errors), declared in flow_config.hpp, tells
// whether to refuse a file.

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_LINT_HPP_
