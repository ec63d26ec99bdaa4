#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_LOG_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_LOG_HPP_

#include <string>

#include "kestrune_diagnostic_trace/flow_config.hpp"

namespace kestrune {
namespace trace {
namespace detail {

/// ParseFlowConfig for Init: also writes, as it reads, the lines Init has
/// always written for a configuration (every point and flow parsed or dropped,
/// a refused file).
ParsedFlowConfig ParseFlowConfigLogged(const std::string& text);

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_LOG_HPP_
