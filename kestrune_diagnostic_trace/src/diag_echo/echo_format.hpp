#ifndef KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__EVENT_YAML_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__EVENT_YAML_HPP_

#include <string>

#include <kestrune_protocol/msg/diagnostic_event.hpp>

namespace kestrune {
namespace diag_echo {

/// The event as a YAML block, one field per line in declaration order, the
/// stamp nested; strings quoted so that any text reads back unchanged.
std::string event_yaml(const kestrune_protocol::msg::DiagnosticEvent& event);

}  // namespace diag_echo
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__EVENT_YAML_HPP_
