#include "echo_format.hpp"

#include <cstdio>

#include <nlohmann/json.hpp>

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

std::string dump(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

std::string event_yaml(const kestrune_protocol::msg::DiagnosticEvent& event) {
  return "stamp:\n  sec: " + std::to_string(event.stamp.sec) +
         "\n  nanosec: " + std::to_string(event.stamp.nanosec) +
         "\nsource_id: " + quoted(event.source_id) + "\nid: " + std::to_string(event.id) +
         "\nstatus: " + std::to_string(event.status) + "\nmsg: " + quoted(event.msg) +
         "\nkind: " + std::to_string(event.kind) + "\nverdict: " + std::to_string(event.verdict) +
         "\npoint_id: " + quoted(event.point_id) +
         "\nduration_ms: " + std::to_string(event.duration_ms) + "\n";
}

std::string array_yaml(const diagnostic_msgs::msg::DiagnosticArray& array) {
  std::string text = "header:\n  stamp:\n    sec: " + std::to_string(array.header.stamp.sec) +
                     "\n    nanosec: " + std::to_string(array.header.stamp.nanosec) +
                     "\n  frame_id: " + quoted(array.header.frame_id) + "\nstatus:";
  if (array.status.empty()) {
    return text + " []\n";
  }
  for (const auto& status : array.status) {
    text += "\n- level: " + std::to_string(status.level) + "\n  name: " + quoted(status.name) +
            "\n  message: " + quoted(status.message) +
            "\n  hardware_id: " + quoted(status.hardware_id) + "\n  values:";
    if (status.values.empty()) {
      text += " []";
    }
    for (const auto& value : status.values) {
      text += "\n  - key: " + quoted(value.key) + "\n    value: " + quoted(value.value);
    }
  }
  return text + "\n";
}

std::string event_json(const kestrune_protocol::msg::DiagnosticEvent& event) {
  return dump({{"stamp", {{"sec", event.stamp.sec}, {"nanosec", event.stamp.nanosec}}},
               {"source_id", event.source_id},
               {"id", event.id},
               {"status", event.status},
               {"msg", event.msg},
               {"kind", event.kind},
               {"verdict", event.verdict},
               {"point_id", event.point_id},
               {"duration_ms", event.duration_ms}});
}

std::string array_json(const diagnostic_msgs::msg::DiagnosticArray& array) {
  nlohmann::ordered_json statuses = nlohmann::ordered_json::array();
  for (const auto& status : array.status) {
    nlohmann::ordered_json values = nlohmann::ordered_json::array();
    for (const auto& value : status.values) {
      values.push_back({{"key", value.key}, {"value", value.value}});
    }
    statuses.push_back({{"level", status.level},
                        {"name", status.name},
                        {"message", status.message},
                        {"hardware_id", status.hardware_id},
                        {"values", std::move(values)}});
  }
  return dump(
      {{"header",
        {{"stamp", {{"sec", array.header.stamp.sec}, {"nanosec", array.header.stamp.nanosec}}},
         {"frame_id", array.header.frame_id}}},
       {"status", std::move(statuses)}});
}

}  // namespace diag_echo
}  // namespace kestrune
