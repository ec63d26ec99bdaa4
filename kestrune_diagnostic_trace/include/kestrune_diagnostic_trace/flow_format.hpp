#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_FORMAT_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_FORMAT_HPP_

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "kestrune_diagnostic_trace/trace_flow_cfg.hpp"
#include "kestrune_diagnostic_trace/trace_point_cfg.hpp"

namespace kestrune {
namespace trace {

/// Where a key is written in a flow file.
enum class KeyPlace { kTop, kDiagnostics, kFlow, kPoint };

/// How a key's value is read.
enum class KeyType {
  kString,  ///< text: numbers and booleans as written, no value as the text "null"
  kBool,    ///< yaml-cpp's booleans: true/false, yes/no, on/off, y/n, in three cases
  kUint32,  ///< a whole number from `min` to `max`
  kFloat,   ///< a number, .inf and .nan included
  kFlows,   ///< the sequence of flows
  kPoints,  ///< a flow's sequence of points
  kSection  ///< a mapping of settings (the keys at KeyPlace::kDiagnostics)
};

/// Which flows a flow key is read for and acts on.
enum class KeyScope {
  kEveryFlow,
  kHeartbeatFlow,  ///< read only for the heartbeat flow; other flows ignore it
  kOtherFlows      ///< read for every flow; nothing acts on it for the heartbeat flow
};

/// The record field a key's value is stored in: a member of the point, the
/// flow, the diagnostics section or the file as a whole.
using FieldBinding =
    std::variant<std::monostate, std::string TracePointCfg::*, bool TracePointCfg::*,
                 uint32_t TracePointCfg::*, float TracePointCfg::*, std::string TraceFlowCfg::*,
                 bool TraceFlowCfg::*, uint32_t TraceFlowCfg::*, float TraceFlowCfg::*,
                 std::string DiagnosticsConfig::*, bool DiagnosticsConfig::*,
                 uint32_t DiagnosticsConfig::*, float DiagnosticsConfig::*,
                 std::string ParsedFlowConfig::*, bool ParsedFlowConfig::*,
                 uint32_t ParsedFlowConfig::*, float ParsedFlowConfig::*>;

/// A key's value as a record holds it.
using FieldValue = std::variant<std::string, bool, uint32_t, float>;

/// Another spelling a key is read under when its own name is absent.
struct OtherSpelling {
  const char* name;
  /// A slip kept for old files: the lint asks for the key's own name.
  bool misspelt;
};

/// One key of the flow file: everything the parser, `show`, `render`, the lint,
/// the JSON Schema and the fuzzer's dictionary know about it.
struct FlowFileKey {
  KeyPlace place;
  const char* name;
  KeyType type;
  /// Where the value goes; std::monostate for the sequences and sections.
  FieldBinding field;
  /// The value an absent key stands for. Except for `optional`, it is also the
  /// value the field holds after construction.
  FieldValue default_value;
  /// The default in words where the value alone would mislead (an empty
  /// hardware_id stands for the node's name); nullptr: the value says it.
  const char* default_words{nullptr};
  uint32_t min{0};
  uint32_t max{std::numeric_limits<uint32_t>::max()};
  /// Without it a point is dropped, and a flow loads under the empty id,
  /// which nothing can trace.
  bool required{false};
  /// An empty text cannot be meant: the lint reports it, and a section setting
  /// keeps its default.
  bool non_empty{false};
  /// The field holds the opposite of the value (`optional` fills is_critical).
  bool negated{false};
  /// A ROS 2 topic name, which the lint checks by ROS 2's rules.
  bool topic{false};
  KeyScope scope{KeyScope::kEveryFlow};
  /// Read, in this order, when `name` is absent.
  std::vector<OtherSpelling> other_spellings;
  /// One line for people: the docs, the schema, the lint's messages.
  const char* meaning{""};
  /// How `render` labels a value other than the default: "{}" stands for the
  /// value. nullptr: drawn otherwise, or not at all.
  const char* label{nullptr};
};

/// Every key of the flow file, in the order the parser reads them (within a
/// place) and `show` writes them.
const std::vector<FlowFileKey>& FlowFileKeys();

/// The key written as `name` (its own name or another spelling) at `place`;
/// nullptr when the format has none.
const FlowFileKey* FindFlowFileKey(KeyPlace place, std::string_view name);

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_FORMAT_HPP_
