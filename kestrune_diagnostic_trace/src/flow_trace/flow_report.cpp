// What the tracer reports about a flow: the tables behind flow_report.hpp.
#include "kestrune_diagnostic_trace/flow_report.hpp"

#include <array>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

namespace kestrune {
namespace trace {
namespace report {

namespace {

/// One row per verdict: its name and the reason a message gives.
struct VerdictRow {
  FlowCheckStatus status;
  const char* name;
  const char* reason;
};

constexpr std::array<VerdictRow, 7> kVerdicts{{
    {FlowCheckStatus::SUCCESS, "SUCCESS", "passed"},
    {FlowCheckStatus::FAILED, "FAILED", "point failed"},
    {FlowCheckStatus::INVALID_POINT, "INVALID_POINT", "invalid point"},
    {FlowCheckStatus::DUPLICATED_POINT, "DUPLICATED_POINT", "point duplicated"},
    {FlowCheckStatus::MISSING_POINT, "MISSING_POINT", "point missing"},
    {FlowCheckStatus::INVALID_ORDER, "INVALID_ORDER", "invalid order"},
    {FlowCheckStatus::INVALID_FLOW, "INVALID_FLOW", "invalid flow"},
}};

/// Indexed by the kind's value.
constexpr std::array<const char*, 5> kKindWords{"point", "timeout", "verdict", "stall",
                                                "over budget"};

const VerdictRow* FindVerdict(FlowCheckStatus status) {
  for (const VerdictRow& row : kVerdicts) {
    if (row.status == status) {
      return &row;
    }
  }
  return nullptr;
}

}  // namespace

const char* EventKindWord(uint8_t kind) {
  return kind < kKindWords.size() ? kKindWords[kind] : "unknown";
}

std::optional<EventKind> EventKindFromWord(const std::string& word) {
  for (size_t i = 0; i < kKindWords.size(); ++i) {
    if (word == kKindWords[i]) {
      return static_cast<EventKind>(i);
    }
  }
  return std::nullopt;
}

const char* VerdictName(FlowCheckStatus status) {
  const VerdictRow* row = FindVerdict(status);
  return row ? row->name : "UNKNOWN";
}

const char* VerdictName(uint8_t status) {
  return VerdictName(static_cast<FlowCheckStatus>(status));
}

std::optional<FlowCheckStatus> VerdictFromName(const std::string& name) {
  for (const VerdictRow& row : kVerdicts) {
    if (name == row.name) {
      return row.status;
    }
  }
  return std::nullopt;
}

const char* VerdictReason(FlowCheckStatus status) {
  const VerdictRow* row = FindVerdict(status);
  return row ? row->reason : "unknown";
}

std::string SecondsValue(double seconds) {
  return fmt::format("{:.2f} s", seconds);
}

std::optional<double> ParseSecondsValue(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double seconds = std::strtod(begin, &end);
  if (end == begin || std::strcmp(end, " s") != 0 || !(seconds >= 0.0)) {
    return std::nullopt;
  }
  return seconds;
}

std::optional<uint64_t> ParseCountValue(const std::string& text) {
  if (text.empty() || text.size() > 19 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoull(text);
}

}  // namespace report
}  // namespace trace
}  // namespace kestrune
