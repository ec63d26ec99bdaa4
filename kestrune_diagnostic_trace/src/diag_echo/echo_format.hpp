#ifndef KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__ECHO_FORMAT_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__ECHO_FORMAT_HPP_

#include <string>

#include <diagnostic_msgs/msg/diagnostic_array.hpp>
#include <kestrune_protocol/msg/diagnostic_event.hpp>

namespace kestrune {
namespace diag_echo {

/// The message as a YAML block, one field per line in declaration order,
/// nested fields indented as `ros2 topic echo` prints them; strings quoted so
/// that any text reads back unchanged. No trailing '---'.
std::string event_yaml(const kestrune_protocol::msg::DiagnosticEvent& event);
std::string array_yaml(const diagnostic_msgs::msg::DiagnosticArray& array);

/// The message as one JSON object on one line (no newline), its fields named
/// as in the message; text that is not UTF-8 has U+FFFD in place of bad bytes.
std::string event_json(const kestrune_protocol::msg::DiagnosticEvent& event);
std::string array_json(const diagnostic_msgs::msg::DiagnosticArray& array);

}  // namespace diag_echo
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__ECHO_FORMAT_HPP_
