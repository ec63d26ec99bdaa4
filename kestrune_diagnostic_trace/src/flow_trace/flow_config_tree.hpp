#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_TREE_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_TREE_HPP_

#include <yaml-cpp/yaml.h>

#include "kestrune_diagnostic_trace/flow_config.hpp"

namespace kestrune {
namespace trace {
namespace detail {

/// ParseFlowConfig on a document already loaded, for the lint, which walks the
/// same tree: loading dominates, and a large file should be loaded once. A text
/// that does not load is ParseFlowConfig's to report.
ParsedFlowConfig ParseFlowConfigTree(const YAML::Node& root);

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_TREE_HPP_
