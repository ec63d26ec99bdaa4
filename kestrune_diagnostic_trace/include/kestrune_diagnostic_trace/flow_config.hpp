#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_HPP_

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kestrune_diagnostic_trace/trace_flow_cfg.hpp"

namespace kestrune {
namespace trace {

/// The reserved id of the heartbeat flow, which is also the id of its own point.
inline constexpr char kHeartbeatFlowId[] = "heartbeat";
/// Where points of flows judged by a flow checker travel, relative to the node's namespace.
inline constexpr char kDefaultPointsTopic[] = "kestrune/points";

/// The largest flow file the tools read (16 MiB, some 60,000 flows of five
/// points): parsing takes about twenty times a file's size in memory, so a
/// larger file is refused unread. `FlowTrace::Init` still loads it, with a warning.
inline constexpr size_t kMaxFlowConfigBytes = size_t{16} << 20;

enum class FindingSeverity { kError, kWarning };

/// What a finding is about. Stable: tools, editors and tests match these, not
/// the messages. `FindingCodeName` gives the text printed for each.
enum class FindingCode {
  // The file as a whole: no flow is loaded from it.
  kMissingFile,     ///< "missing-file"
  kDirectory,       ///< "directory"
  kUnreadableFile,  ///< "unreadable-file"
  kTooLarge,        ///< "too-large": above kMaxFlowConfigBytes
  kEmptyFile,       ///< "empty-file": no YAML document at all
  kNotYaml,         ///< "not-yaml": yaml-cpp refuses the text
  kNotAFlowFile,    ///< "not-a-flow-file": no sequence under `workflows`
  // Text that Init reads otherwise than editors and other YAML readers do.
  kNotUtf8,           ///< "not-utf8"
  kSeveralDocuments,  ///< "several-documents": only the first is loaded
  kDuplicateKey,      ///< "duplicate-key": Init reads the first, others the last
  kMergeKey,          ///< "merge-key": `<<` is an ordinary, unknown key to Init
  // Keys and values.
  kUnknownKey,   ///< "unknown-key"
  kOldSpelling,  ///< "old-spelling": a misspelling kept for old files
  kWrongType,    ///< "wrong-type"
  kOutOfRange,   ///< "out-of-range"
  kMissingKey,   ///< "missing-key"
  kEmptyValue,   ///< "empty-value": an id or name that must not be empty
  kNoValue,      ///< "no-value": a text key without a value reads as "null"
  // Between keys and flows, judged by the lint only.
  kDuplicateFlowId,   ///< "duplicate-flow-id"
  kInvalidTopic,      ///< "invalid-topic": refused by ROS 2's naming rules
  kNoEffect,          ///< "no-effect": a setting nothing acts on
  kNoPoints,          ///< "no-points": a flow with nothing to check
  kDuplicateEventId,  ///< "duplicate-event-id": events a listener cannot tell apart
  kUnreachablePoint,  ///< "unreachable-point"
};

/// The code as printed ("unknown-key").
const char* FindingCodeName(FindingCode code);

/// True for the codes after which no flow of the file is loaded (the file
/// cannot be read, is not YAML, or is no flow file).
bool IsFileLevel(FindingCode code);

/// One thing wrong with a flow configuration, and where.
struct ConfigFinding {
  FindingSeverity severity;
  FindingCode code;
  /// 1-based position in the text of the offending node; 0 when unknown or
  /// when the finding is about the whole file.
  int line;
  int column;
  /// The YAML key concerned ("repeat_cnt", "flow_id", "workflows"); empty when none.
  std::string key;
  std::string message;
};

/// The `diagnostics` section: flow health on /diagnostics, off unless enabled.
struct DiagnosticsConfig {
  static constexpr uint32_t kDefaultPeriodMs = 1000;
  static constexpr uint32_t kMinPeriodMs = 100;
  static constexpr uint32_t kMaxPeriodMs = 4000;
  static constexpr uint32_t kDefaultStatsWindow = 100;
  static constexpr uint32_t kMaxStatsWindow = 1000;

  bool enabled{false};
  /// How often the full array is published; level changes go out sooner.
  uint32_t period_ms{kDefaultPeriodMs};
  /// The statuses' hardware_id; empty means the node's name.
  std::string hardware_id;
  /// How many of each flow's latest passing runs its statistics keep.
  uint32_t stats_window{kDefaultStatsWindow};
};

/// What a flow configuration text holds, as `FlowTrace::Init` loads it.
struct ParsedFlowConfig {
  /// Every flow that parsed, in file order; when two share a flow_id the later
  /// one is the one loaded. A heartbeat flow already starts with its point.
  /// No flow has a publisher: those are the engine's to create.
  std::vector<std::shared_ptr<TraceFlowCfg>> flows;
  /// The `duration_ms` of the last heartbeat flow; 0 without one.
  uint32_t heartbeat_period_ms{0};
  /// Defaults for every key absent or refused.
  DiagnosticsConfig diagnostics;
  /// The topic of the points of remote flows, and the one a flow checker listens on.
  std::string points_topic{kDefaultPointsTopic};
  /// In the order read: an error for every entry, value, document, repeated
  /// or merge key Init drops, for a file it refuses, and for bytes that are not
  /// UTF-8; a warning for a `flow_points` that is no sequence.
  std::vector<ConfigFinding> findings;
};

/// Reads a flow configuration (the YAML text of a configuration file).
///
/// Pure: touches no engine, creates no publisher, reads no file and logs
/// nothing, so any thread may call it at any time. Never throws for bad input.
/// The flows are exactly those `Init` loads from the same text.
ParsedFlowConfig ParseFlowConfig(const std::string& text);

/// True when `findings` holds an error; with `warnings_are_errors`, any finding.
bool HasErrors(const std::vector<ConfigFinding>& findings, bool warnings_are_errors = false);

/// The flows the engine holds after loading `parsed`: of several flows with one
/// id only the last, which replaces the earlier ones; in file order.
std::vector<std::shared_ptr<TraceFlowCfg>> LoadedFlows(const ParsedFlowConfig& parsed);

/// A flow file's text, or the error that kept it from being read.
struct FlowConfigText {
  std::string text;
  /// Set when the file could not be read whole: missing, a directory,
  /// unreadable, or larger than the limit. It names the file; line and column are 0.
  std::optional<ConfigFinding> error;
};

/// Reads the file at `path` as every program of the package does, Init
/// included. A file larger than `max_bytes` is refused after reading
/// `max_bytes` + 1 bytes of it. Reads nothing else and logs nothing.
FlowConfigText ReadFlowConfigFile(const std::string& path, size_t max_bytes = kMaxFlowConfigBytes);

/// The same for an open stream (standard input), named `name` in the errors.
FlowConfigText ReadFlowConfigStream(std::istream& stream, const std::string& name,
                                    size_t max_bytes = kMaxFlowConfigBytes);

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_HPP_
