#include "event_yaml.hpp"

#include <cstdio>

namespace kestrune {
namespace diag_echo {

namespace {

// Single quotes keep every printable text as it is; control characters need
// the escapes only double quotes offer.
std::string quoted(const std::string& text) {
  bool has_control = false;
  for (const char c : text) {
    has_control = has_control || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  }
  std::string result;
  if (!has_control) {
    result = "'";
    for (const char c : text) {
      result += c == '\'' ? std::string("''") : std::string(1, c);
    }
    return result + "'";
  }
  result = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        result += "\\\"";
        break;
      case '\\':
        result += "\\\\";
        break;
      case '\n':
        result += "\\n";
        break;
      case '\t':
        result += "\\t";
        break;
      case '\r':
        result += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          char escape[5];
          std::snprintf(escape, sizeof(escape), "\\x%02x", static_cast<unsigned char>(c));
          result += escape;
        } else {
          result += c;
        }
    }
  }
  return result + "\"";
}

}  // namespace

std::string event_yaml(const kestrune_protocol::msg::DiagnosticEvent& event) {
  return "stamp:\n  sec: " + std::to_string(event.stamp.sec) +
         "\n  nanosec: " + std::to_string(event.stamp.nanosec) +
         "\nsource_id: " + quoted(event.source_id) + "\nid: " + std::to_string(event.id) +
         "\nstatus: " + std::to_string(event.status) + "\nmsg: " + quoted(event.msg) + "\n";
}

}  // namespace diag_echo
}  // namespace kestrune
