#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_READER_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_READER_HPP_

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "kestrune_diagnostic_trace/flow_format.hpp"

namespace kestrune {
namespace trace {
namespace detail {

template <typename Member>
struct MemberOf;
template <typename Record, typename T>
struct MemberOf<T Record::*> {
  using Type = T;
  using RecordType = Record;
};

/// The records one entry of a flow file fills: a point belongs to a flow, a
/// flow to the file, whose diagnostics section is part of it. Absent records
/// are nullptr.
template <bool kConst>
struct KeyRecords {
  template <typename R>
  using Ptr = std::conditional_t<kConst, const R*, R*>;

  Ptr<ParsedFlowConfig> file{nullptr};
  Ptr<TraceFlowCfg> flow{nullptr};
  Ptr<TracePointCfg> point{nullptr};

  template <typename R>
  Ptr<R> Get() const {
    if constexpr (std::is_same_v<R, ParsedFlowConfig>) {
      return file;
    } else if constexpr (std::is_same_v<R, DiagnosticsConfig>) {
      return file != nullptr ? &file->diagnostics : nullptr;
    } else if constexpr (std::is_same_v<R, TraceFlowCfg>) {
      return flow;
    } else {
      static_assert(std::is_same_v<R, TracePointCfg>, "a key binds a member of a record");
      return point;
    }
  }
};

/// Calls `visit(field)` with the field `key` binds among `records`; does nothing
/// when the key binds none or its record is not given.
template <bool kConst, typename Visit>
void VisitField(const FlowFileKey& key, const KeyRecords<kConst>& records, Visit&& visit) {
  std::visit(
      [&](auto member) {
        using Member = decltype(member);
        if constexpr (!std::is_same_v<Member, std::monostate>) {
          if (auto* record = records.template Get<typename MemberOf<Member>::RecordType>()) {
            visit(record->*member);
          }
        }
      },
      key.field);
}

/// Whether a flow key acts on `flow`, by its scope.
inline bool ActsOn(const FlowFileKey& key, const TraceFlowCfg& flow) {
  const bool heartbeat = flow.flow_id == kHeartbeatFlowId;
  switch (key.scope) {
    case KeyScope::kHeartbeatFlow:
      return heartbeat;
    case KeyScope::kOtherFlows:
      return !heartbeat;
    default:
      return true;
  }
}

/// The key's value among `records` as written in a file (`optional`, not
/// is_critical); nothing when the key binds no field of them.
std::optional<FieldValue> ValueOf(const FlowFileKey& key, const KeyRecords<true>& records);

/// Where a key the format knows was found in one mapping.
struct FoundKey {
  const FlowFileKey* key;
  /// 0: under the key's own name; n: under its other_spellings[n - 1].
  size_t spelling;
  YAML::Mark key_mark;
  YAML::Node value;

  /// The name as written.
  const char* Name() const;
  /// Where a finding about the value points: at the value, or at the key when
  /// the value is missing and its place would be the next line.
  YAML::Mark ValueMark() const;
};

/// A key written a second time in one mapping.
struct RepeatedKey {
  FoundKey again;
  YAML::Mark first;
};

/// A key the format does not know at its place.
struct OtherKey {
  /// Empty for a key that is not text (a sequence, a mapping, no value).
  std::string text;
  YAML::Mark mark;
};

/// The keys of one mapping, read once: yaml-cpp converts every key of a
/// mapping on each lookup, which would dominate reading a large file.
class MappingKeys {
 public:
  MappingKeys() = default;
  /// Anything but a mapping has no keys.
  MappingKeys(const YAML::Node& node, KeyPlace place);

  /// The occurrence the parser reads `key` from: the first one under the first
  /// of its spellings that is present. nullptr when absent.
  const FoundKey* Find(const FlowFileKey& key) const;

  /// The first occurrence of each spelling, in file order.
  const std::vector<FoundKey>& known() const { return known_; }
  const std::vector<RepeatedKey>& repeated() const { return repeated_; }
  /// Every `<<`, which yaml-cpp keeps as a plain key.
  const std::vector<YAML::Mark>& merges() const { return merges_; }
  const std::vector<OtherKey>& others() const { return others_; }
  const YAML::Mark& mark() const { return mark_; }

 private:
  YAML::Mark mark_;
  std::vector<FoundKey> known_;
  std::vector<RepeatedKey> repeated_;
  std::vector<YAML::Mark> merges_;
  std::vector<OtherKey> others_;
};

/// A point entry (a mapping) as read; `point` is empty when it was dropped.
struct ReadPoint {
  MappingKeys keys;
  std::shared_ptr<TracePointCfg> point;
};

/// A flow entry (a mapping) as read; `flow` is empty when it was dropped, and
/// then its points were not read.
struct ReadFlow {
  MappingKeys keys;
  std::shared_ptr<TraceFlowCfg> flow;
  std::vector<ReadPoint> points;
};

/// A whole text as read, with the mappings behind the records, for the lint.
struct ReadFile {
  ParsedFlowConfig parsed;
  /// The top-level mapping, when the text is YAML.
  std::optional<MappingKeys> top;
  std::optional<MappingKeys> diagnostics;
  std::vector<ReadFlow> flows;
};

/// ParseFlowConfig, keeping every mapping it read.
ReadFile ReadFlowConfigText(const std::string& text);

/// ParseFlowConfig for Init: also writes, as it reads, the lines Init has
/// always written for a configuration (every point and flow parsed or dropped,
/// a refused file or section).
ParsedFlowConfig ParseFlowConfigLogged(const std::string& text);

/// The length of the well-formed UTF-8 character at `at` (1 for ASCII), or 0
/// for a byte that starts none.
size_t Utf8Length(std::string_view text, size_t at);

/// "'abc'", "a sequence", "a mapping", "no value".
std::string DescribeValue(const YAML::Node& value);

/// The finding at a YAML position (yaml-cpp counts from 0; -1 is unknown).
ConfigFinding MakeFinding(FindingSeverity severity, FindingCode code, const YAML::Mark& mark,
                          std::string key, std::string message);

}  // namespace detail
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CONFIG_READER_HPP_
