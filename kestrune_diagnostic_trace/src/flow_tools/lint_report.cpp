// Findings printed for people and for tools.
#include "lint_report.hpp"

#include <cstdio>

#include "flow_config_reader.hpp"

namespace kestrune {
namespace flow_tool {

namespace {

const char* SeverityName(trace::FindingSeverity severity) {
  return severity == trace::FindingSeverity::kError ? "error" : "warning";
}

/// A JSON string; a byte that is not UTF-8 (a key or value from a Latin-1
/// file) becomes U+FFFD, so the output is valid UTF-8 whatever the input.
std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      quoted += escaped;
    } else if (c >= 0x80) {
      const size_t length = trace::detail::Utf8Length(text, i);
      quoted += length == 0 ? "\\ufffd" : text.substr(i, length);
      i += length == 0 ? 1 : length;
      continue;
    } else {
      quoted += static_cast<char>(c);
    }
    ++i;
  }
  return quoted + "\"";
}

}  // namespace

std::string FormatText(const std::vector<FileFindings>& files) {
  std::string text;
  for (const auto& file : files) {
    for (const auto& finding : file.findings) {
      const std::string where = finding.line == 0 ? file.file
                                                  : file.file + ":" + std::to_string(finding.line) +
                                                        ":" + std::to_string(finding.column);
      text += where + ": " + SeverityName(finding.severity) + ": " + finding.message + " [" +
              trace::FindingCodeName(finding.code) + "]\n";
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
              ", \"code\": " + JsonString(trace::FindingCodeName(finding.code)) +
              ", \"key\": " + JsonString(finding.key) +
              ", \"message\": " + JsonString(finding.message) + "}";
      separator = ",\n  ";
    }
  }
  return json + (json.size() > 1 ? "\n]\n" : "]\n");
}

}  // namespace flow_tool
}  // namespace kestrune
