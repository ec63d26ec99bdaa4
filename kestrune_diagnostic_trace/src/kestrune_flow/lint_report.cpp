// Findings printed for people and for tools.
#include "lint_report.hpp"

#include <cstdio>

namespace kestrune {
namespace flow_tool {

namespace {

const char* SeverityName(trace::FindingSeverity severity) {
  return severity == trace::FindingSeverity::kError ? "error" : "warning";
}

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      quoted += escaped;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + "\"";
}

}  // namespace

std::string FormatText(const std::vector<FileFindings>& files) {
  std::string text;
  for (const auto& file : files) {
    for (const auto& finding : file.findings) {
      text += file.file + ":" + std::to_string(finding.line) + ":" +
              std::to_string(finding.column) + ": " + SeverityName(finding.severity) + ": " +
              finding.message + "\n";
    }
  }
  return text;
}

std::string FormatJson(const std::vector<FileFindings>& files) {
  std::string json = "[";
  const char* separator = "\n  ";
  for (const auto& file : files) {
    for (const auto& finding : file.findings) {
      json += separator;
      json += "{\"file\": " + JsonString(file.file) +
              ", \"line\": " + std::to_string(finding.line) +
              ", \"column\": " + std::to_string(finding.column) +
              ", \"severity\": " + JsonString(SeverityName(finding.severity)) +
              ", \"key\": " + JsonString(finding.key) +
              ", \"message\": " + JsonString(finding.message) + "}";
      separator = ",\n  ";
    }
  }
  return json + (json.size() > 1 ? "\n]\n" : "]\n");
}

}  // namespace flow_tool
}  // namespace kestrune
