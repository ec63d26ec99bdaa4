#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_SHOW_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_SHOW_HPP_

#include <string>

#include <kestrune_diagnostic_trace/flow_config.hpp>

namespace kestrune {
namespace flow_tool {

/// The configuration as the engine holds it once loaded, written as a flow
/// file with every key of the format, defaults included, so a reader sees what
/// the checks will hold a run to. Of flows sharing an id only the one loaded
/// is written. Loading the result gives the same configuration, field by
/// field. A key whose default stands for something no value can say (an empty
/// hardware_id is the node's name) is left out while it has that default, and
/// so is a key that would act on no flow.
std::string ShowFlowConfig(const trace::ParsedFlowConfig& parsed);

}  // namespace flow_tool
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_SHOW_HPP_
