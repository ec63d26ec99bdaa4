// Reading a flow configuration text into flow records and findings, key by key
// as the format's table describes them.
#include "kestrune_diagnostic_trace/flow_config.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <utility>

#include <fmt/format.h>
#include <yaml-cpp/depthguard.h>
#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

#include "flow_config_reader.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace trace {

const char* FindingCodeName(FindingCode code) {
  switch (code) {
    case FindingCode::kMissingFile:
      return "missing-file";
    case FindingCode::kDirectory:
      return "directory";
    case FindingCode::kUnreadableFile:
      return "unreadable-file";
    case FindingCode::kTooLarge:
      return "too-large";
    case FindingCode::kEmptyFile:
      return "empty-file";
    case FindingCode::kNotYaml:
      return "not-yaml";
    case FindingCode::kNotAFlowFile:
      return "not-a-flow-file";
    case FindingCode::kNotUtf8:
      return "not-utf8";
    case FindingCode::kSeveralDocuments:
      return "several-documents";
    case FindingCode::kDuplicateKey:
      return "duplicate-key";
    case FindingCode::kMergeKey:
      return "merge-key";
    case FindingCode::kUnknownKey:
      return "unknown-key";
    case FindingCode::kOldSpelling:
      return "old-spelling";
    case FindingCode::kWrongType:
      return "wrong-type";
    case FindingCode::kOutOfRange:
      return "out-of-range";
    case FindingCode::kMissingKey:
      return "missing-key";
    case FindingCode::kEmptyValue:
      return "empty-value";
    case FindingCode::kNoValue:
      return "no-value";
    case FindingCode::kDuplicateFlowId:
      return "duplicate-flow-id";
    case FindingCode::kInvalidTopic:
      return "invalid-topic";
    case FindingCode::kNoEffect:
      return "no-effect";
    case FindingCode::kNoPoints:
      return "no-points";
    case FindingCode::kDuplicateEventId:
      return "duplicate-event-id";
    case FindingCode::kUnreachablePoint:
      return "unreachable-point";
  }
  return "";
}

bool IsFileLevel(FindingCode code) {
  switch (code) {
    case FindingCode::kMissingFile:
    case FindingCode::kDirectory:
    case FindingCode::kUnreadableFile:
    case FindingCode::kTooLarge:
    case FindingCode::kEmptyFile:
    case FindingCode::kNotYaml:
    case FindingCode::kNotAFlowFile:
      return true;
    default:
      return false;
  }
}

namespace detail {

namespace {

/// A name a key is written under at one place.
struct PlaceName {
  std::string_view name;
  const FlowFileKey* key;
  size_t spelling;
};

const std::vector<PlaceName>& NamesAt(KeyPlace place) {
  static const std::array<std::vector<PlaceName>, 4> names = [] {
    std::array<std::vector<PlaceName>, 4> all;
    for (const FlowFileKey& key : FlowFileKeys()) {
      auto& at = all[static_cast<size_t>(key.place)];
      at.push_back({key.name, &key, 0});
      for (size_t i = 0; i < key.other_spellings.size(); ++i) {
        at.push_back({key.other_spellings[i].name, &key, i + 1});
      }
    }
    return all;
  }();
  return names[static_cast<size_t>(place)];
}

/// The one key of `type` at `place` (the structure: workflows, diagnostics, flow_points).
const FlowFileKey& StructureKey(KeyPlace place, KeyType type) {
  for (const FlowFileKey& key : FlowFileKeys()) {
    if (key.place == place && key.type == type) {
      return key;
    }
  }
  throw std::logic_error("the flow format has no such key");
}

std::string ExpectedText(const FlowFileKey& key) {
  switch (key.type) {
    case KeyType::kString:
      return "a string";
    case KeyType::kBool:
      return "a boolean (true/false, yes/no, on/off)";
    case KeyType::kFloat:
      return "a number";
    case KeyType::kUint32:
      if (key.min == 0 && key.max == std::numeric_limits<uint32_t>::max()) {
        return "an unsigned 32-bit integer";
      }
      return key.min == 0 ? fmt::format("a whole number of at most {}", key.max)
                          : fmt::format("a whole number from {} to {}", key.min, key.max);
    default:
      return "a sequence";
  }
}

/// How a value outside the key's range is reported.
std::string RangeText(const FoundKey& found) {
  const FlowFileKey& key = *found.key;
  return key.min == 0 ? fmt::format("{} {} is out of range, the largest is {}", found.Name(),
                                    found.value.Scalar(), key.max)
                      : fmt::format("{} {} is outside {} to {}", found.Name(), found.value.Scalar(),
                                    key.min, key.max);
}

std::string ValueText(const FieldValue& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>) {
          return v ? "true" : "false";
        } else if constexpr (std::is_same_v<T, std::string>) {
          return "'" + v + "'";
        } else {
          return fmt::format("{}", v);
        }
      },
      value);
}

/// What a refused setting falls back to.
std::string FallbackText(const FlowFileKey& key) {
  return key.default_words != nullptr ? std::string(key.default_words) + " is used"
                                      : "the default " + ValueText(key.default_value) + " is used";
}

bool LooksLikeInteger(const YAML::Node& value) {
  if (!value.IsScalar()) {
    return false;
  }
  std::string_view text = value.Scalar();
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    text.remove_prefix(1);
  }
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

template <typename T>
T Stored(const FlowFileKey& key, T value) {
  if constexpr (std::is_same_v<T, bool>) {
    return key.negated ? !value : value;
  } else {
    return value;
  }
}

/// The offset of the first byte that does not belong to well-formed UTF-8.
std::optional<size_t> FirstInvalidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8Length(text, i);
    if (length == 0) {
      return i;
    }
    i += length;
  }
  return std::nullopt;
}

/// yaml-cpp decodes UTF-16 and UTF-32 that start with their byte order mark.
bool HasWideByteOrderMark(std::string_view text) {
  for (std::string_view mark : {std::string_view("\xFF\xFE", 2), std::string_view("\xFE\xFF", 2),
                                std::string_view("\x00\x00\xFE\xFF", 4)}) {
    if (text.substr(0, mark.size()) == mark) {
      return true;
    }
  }
  return false;
}

/// Whether a line may start a second document: "---" alone or before a space.
bool MayHoldDocumentMarker(const std::string& text) {
  for (size_t at = text.find("---"); at != std::string::npos; at = text.find("---", at + 3)) {
    const bool line_start = at == 0 || text[at - 1] == '\n';
    const bool ends = at + 3 == text.size() || text[at + 3] == ' ' || text[at + 3] == '\t' ||
                      text[at + 3] == '\n' || text[at + 3] == '\r';
    if (line_start && ends) {
      return true;
    }
  }
  return false;
}

/// Notes where documents start and ignores the rest.
class DocumentStarts : public YAML::EventHandler {
 public:
  void OnDocumentStart(const YAML::Mark& mark) override { starts.push_back(mark); }
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark&, YAML::anchor_t) override {}
  void OnAlias(const YAML::Mark&, YAML::anchor_t) override {}
  void OnScalar(const YAML::Mark&, const std::string&, YAML::anchor_t,
                const std::string&) override {}
  void OnSequenceStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                       YAML::EmitterStyle::value) override {}
  void OnSequenceEnd() override {}
  void OnMapStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                  YAML::EmitterStyle::value) override {}
  void OnMapEnd() override {}

  std::vector<YAML::Mark> starts;
};

/// One pass over a configuration text. With `log` set it writes, in order, the
/// lines Init has always written while reading a file; with `keep` set it keeps
/// every mapping it read.
class FlowConfigReader {
 public:
  FlowConfigReader(bool log, bool keep) : log_(log), keep_(keep) {}

  ReadFile Read(const std::string& text) && {
    checkUtf8(text);
    YAML::Node root;
    try {
      root = YAML::Load(text);
    } catch (const YAML::Exception& e) {
      fileRefused(e);
      return std::move(file_);
    }
    checkDocuments(text);
    try {
      readRoot(root);
    } catch (const YAML::Exception& e) {
      fileRefused(e);
      return std::move(file_);
    }
    for (auto& flow : parsed().flows) {
      if (flow->flow_id == kHeartbeatFlowId) {
        prependHeartbeatPoint(*flow);
      }
    }
    return std::move(file_);
  }

 private:
  /// A value that failed to convert, for the finding.
  struct Failure {
    const FoundKey* found;
    bool out_of_range;
  };

  ParsedFlowConfig& parsed() { return file_.parsed; }

  void checkUtf8(const std::string& text) {
    if (HasWideByteOrderMark(text)) {
      return;
    }
    const auto offset = FirstInvalidUtf8(text);
    if (!offset) {
      return;
    }
    const size_t line_start = text.rfind('\n', *offset == 0 ? 0 : *offset - 1);
    const size_t line = static_cast<size_t>(
        std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(*offset), '\n'));
    const size_t column =
        line_start == std::string::npos || *offset == 0 ? *offset : *offset - line_start - 1;
    parsed().findings.push_back(ConfigFinding{
        FindingSeverity::kError, FindingCode::kNotUtf8, static_cast<int>(line + 1),
        static_cast<int>(column + 1), "",
        fmt::format("the file is not UTF-8: byte 0x{:02x} at offset {} starts no UTF-8 character; "
                    "Init takes the bytes as they are, editors and other tools do not",
                    static_cast<unsigned char>(text[*offset]), *offset)});
  }

  /// A second document is never loaded. Looked for only when a line could
  /// start one, since counting documents reads the text once more.
  void checkDocuments(const std::string& text) {
    if (!MayHoldDocumentMarker(text)) {
      return;
    }
    std::istringstream stream(text);
    YAML::Parser parser(stream);
    DocumentStarts starts;
    try {
      while (starts.starts.size() < 2 && parser.HandleNextDocument(starts)) {
      }
    } catch (const YAML::Exception&) {
      // A second document that is not YAML is still a second document.
    }
    if (starts.starts.size() >= 2) {
      addError(FindingCode::kSeveralDocuments, starts.starts[1], "",
               "a second YAML document starts here: Init loads only the first, so everything "
               "from here on is ignored");
    }
  }

  void readRoot(const YAML::Node& root) {
    if (!root || root.IsNull()) {
      logError("No workflows configuration found");
      parsed().findings.push_back(ConfigFinding{
          FindingSeverity::kError, FindingCode::kEmptyFile, 0, 0, "",
          "the file holds no YAML document: it is empty or only comments, so it has no flows"});
      return;
    }
    const FlowFileKey& workflows_key = StructureKey(KeyPlace::kTop, KeyType::kFlows);
    if (root.IsScalar()) {
      // What yaml-cpp has always said for the lookup of workflows in a scalar.
      logFileRefused(YAML::BadSubscript(root.Mark(), workflows_key.name).what());
      notAFlowFile(root.Mark(), "the document is " + DescribeValue(root) +
                                    ", not a mapping with the key 'workflows'");
      return;
    }
    MappingKeys top(root, KeyPlace::kTop);
    noteKeys(top);
    const FoundKey* workflows = top.Find(workflows_key);
    if (keep_) {
      file_.top = top;
    }
    if (workflows == nullptr || workflows->value.IsNull()) {
      logError("No workflows configuration found");
      if (!root.IsMap()) {
        notAFlowFile(root.Mark(), "the document is " + DescribeValue(root) +
                                      ", not a mapping with the key 'workflows'");
      } else if (workflows == nullptr) {
        notAFlowFile(root.Mark(), "it has no 'workflows' key" + TopKeysText(top));
      } else {
        notAFlowFile(workflows->key_mark, "key 'workflows' has no value, so there are no flows");
      }
      return;
    }
    if (!workflows->value.IsSequence()) {
      logError("workflows should be a sequence");
      notAFlowFile(workflows->value.Mark(), "workflows should be a sequence of flows, found " +
                                                DescribeValue(workflows->value));
      return;
    }
    for (const YAML::Node& entry : workflows->value) {
      if (auto flow = parseTraceFlowCfg(entry)) {
        parsed().flows.push_back(std::move(flow));
      }
    }
    const KeyRecords<false> records{&parsed(), nullptr, nullptr};
    for (const FlowFileKey& key : FlowFileKeys()) {
      if (key.place != KeyPlace::kTop) {
        continue;
      }
      if (key.type == KeyType::kSection) {
        readSection(top.Find(key), records);
      } else if (key.type != KeyType::kFlows) {
        readSetting(top, key, records, "top-level");
      }
    }
  }

  static std::string TopKeysText(const MappingKeys& top) {
    std::string keys;
    for (const OtherKey& other : top.others()) {
      if (!other.text.empty()) {
        keys += (keys.empty() ? "" : ", ") + other.text;
      }
    }
    return keys.empty() ? std::string() : "; its top-level keys are " + keys;
  }

  void notAFlowFile(const YAML::Mark& mark, const std::string& why) {
    addError(FindingCode::kNotAFlowFile, mark, "workflows", "not a flow file: " + why);
  }

  void logError(const char* line) {
    if (log_) {
      KLOG_ERROR("{}", line);
    }
  }

  void logFileRefused(const std::string& what) {
    if (log_) {
      KLOG_ERROR("Failed to parse flow configuration file: {}", what);
    }
  }

  /// The finding, and with logging the line, for a text yaml-cpp refuses.
  void fileRefused(const YAML::Exception& e) {
    if (dynamic_cast<const YAML::DeepRecursion*>(&e) != nullptr) {
      // yaml-cpp stops at its nesting limit but words it as "bad file".
      logFileRefused(fmt::format("yaml-cpp: error at line {}, column {}: nesting too deep",
                                 e.mark.line + 1, e.mark.column + 1));
      addError(FindingCode::kNotYaml, e.mark, "", "nesting too deep");
      return;
    }
    logFileRefused(e.what());
    addError(FindingCode::kNotYaml, e.mark, "", e.msg);
  }

  /// Repeated and merge keys of a mapping that is read.
  void noteKeys(const MappingKeys& keys) {
    for (const RepeatedKey& repeated : keys.repeated()) {
      addError(FindingCode::kDuplicateKey, repeated.again.key_mark, repeated.again.Name(),
               fmt::format("key '{}' is given twice in one mapping, at lines {} and {}: Init "
                           "reads the first, editors and other YAML readers the last; keep one",
                           repeated.again.Name(), repeated.first.line + 1,
                           repeated.again.key_mark.line + 1));
    }
    for (const YAML::Mark& merge : keys.merges()) {
      addError(FindingCode::kMergeKey, merge, "<<",
               "merge keys ('<<') are not supported: Init ignores '<<' and every key it would "
               "bring in; write those keys out in this mapping");
    }
  }

  /// Sets the field of `key` from `keys`, or to its default when absent. A value
  /// that does not convert or is out of range throws (yaml-cpp 0.7 refuses a
  /// negative number for an unsigned field), noted in failure_ for the finding.
  void readKey(const MappingKeys& keys, const FlowFileKey& key, const KeyRecords<false>& records) {
    const FoundKey* found = keys.Find(key);
    VisitField(key, records, [&](auto& field) {
      using T = std::decay_t<decltype(field)>;
      if (found == nullptr) {
        field = Stored(key, std::get<T>(key.default_value));
        return;
      }
      failure_ = Failure{found, false};
      const T value = found->value.template as<T>();
      if constexpr (std::is_same_v<T, uint32_t>) {
        if (value < key.min || value > key.max) {
          failure_->out_of_range = true;
          throw YAML::RepresentationException(found->value.Mark(), RangeText(*found));
        }
      }
      field = Stored(key, value);
      failure_.reset();
    });
  }

  /// Reads every value key of `place` in table order; the first that fails
  /// throws. A flow's id, first in the table, decides which keys the rest of
  /// its flow reads.
  void readKeys(const MappingKeys& keys, KeyPlace place, const KeyRecords<false>& records) {
    for (const FlowFileKey& key : FlowFileKeys()) {
      if (key.place != place || key.type == KeyType::kPoints ||
          (key.scope == KeyScope::kHeartbeatFlow && records.flow->flow_id != kHeartbeatFlowId)) {
        continue;
      }
      readKey(keys, key, records);
    }
  }

  std::shared_ptr<TracePointCfg> parseTracePointCfg(const YAML::Node& node, ReadFlow* kept) {
    auto point = std::make_shared<TracePointCfg>();
    MappingKeys keys;
    try {
      // A scalar has no keys to look up; yaml-cpp has always refused that lookup.
      if (node.IsScalar()) {
        throw YAML::BadSubscript(node.Mark(), "point_id");
      }
      keys = MappingKeys(node, KeyPlace::kPoint);
      noteKeys(keys);
      for (const FlowFileKey& key : FlowFileKeys()) {
        if (key.place == KeyPlace::kPoint && key.required && keys.Find(key) == nullptr) {
          if (log_) {
            KLOG_ERROR("{} parse failed, point config invalid", key.name);
          }
          if (node.IsMap()) {
            addError(FindingCode::kMissingKey, node.Mark(), key.name,
                     fmt::format("point without {}; it is dropped", key.name));
          } else {
            addError(FindingCode::kWrongType, node.Mark(), "flow_points",
                     "point entry is not a mapping; it is dropped");
          }
          keep(kept, std::move(keys), nullptr);
          return nullptr;
        }
      }
      readKeys(keys, KeyPlace::kPoint, {nullptr, nullptr, point.get()});
    } catch (const YAML::Exception& e) {
      if (log_) {
        KLOG_ERROR("Failed to parse trace point config: {}", e.what());
      }
      addEntryError(node, e, "flow_points", "point");
      keep(kept, std::move(keys), nullptr);
      return nullptr;
    }
    if (log_) {
      KLOG_INFO("Parsed trace point config: point_id={}, description={}, is_critical={}",
                point->point_id, point->description, point->is_critical);
    }
    keep(kept, std::move(keys), point);
    return point;
  }

  void keep(ReadFlow* kept, MappingKeys&& keys, std::shared_ptr<TracePointCfg> point) {
    if (kept != nullptr && keys.mark().line >= 0) {
      kept->points.push_back(ReadPoint{std::move(keys), std::move(point)});
    }
  }

  std::shared_ptr<TraceFlowCfg> parseTraceFlowCfg(const YAML::Node& node) {
    auto flow = std::make_shared<TraceFlowCfg>();
    MappingKeys keys;
    ReadFlow* kept = nullptr;
    try {
      if (node.IsScalar()) {
        throw YAML::BadSubscript(node.Mark(), "flow_id");
      }
      // A list or an empty entry has no keys and would load silently as an
      // unnamed flow without points.
      if (!node.IsMap()) {
        throw YAML::Exception(node.Mark(), "flow entry is not a mapping");
      }
      if (keep_) {
        kept = &file_.flows.emplace_back();
      }
      keys = MappingKeys(node, KeyPlace::kFlow);
      noteKeys(keys);
      readKeys(keys, KeyPlace::kFlow, {&parsed(), flow.get(), nullptr});
      static const FlowFileKey& points_key = StructureKey(KeyPlace::kFlow, KeyType::kPoints);
      const FoundKey* points = keys.Find(points_key);
      if (points != nullptr && points->value.IsSequence()) {
        for (const YAML::Node& entry : points->value) {
          if (auto point = parseTracePointCfg(entry, kept)) {
            flow->flow_points.push_back(std::move(point));
          }
        }
      } else if (points != nullptr) {
        add(FindingSeverity::kWarning, FindingCode::kWrongType, points->ValueMark(), points->Name(),
            "flow_points should be a sequence, found " + DescribeValue(points->value) +
                "; the flow has no points");
      }
    } catch (const YAML::Exception& e) {
      if (log_) {
        KLOG_ERROR("Failed to parse trace flow config: {}", e.what());
      }
      addEntryError(node, e, "workflows", "flow");
      if (kept != nullptr) {
        kept->keys = std::move(keys);
      }
      return nullptr;
    }
    if (log_) {
      KLOG_DEBUG(
          "Parsed trace flow config: flow_id={}, flow_name={}, check_order={}, points_count={}",
          flow->flow_id, flow->flow_name, flow->check_order, flow->flow_points.size());
    }
    if (kept != nullptr) {
      kept->keys = std::move(keys);
      kept->flow = flow;
    }
    return flow;
  }

  /// A section of settings: a refused value keeps its default, with an error;
  /// the flows load either way.
  void readSection(const FoundKey* section, const KeyRecords<false>& records) {
    if (section == nullptr || section->value.IsNull()) {
      return;
    }
    if (!section->value.IsMap()) {
      refuse(FindingCode::kWrongType, section->ValueMark(), section->Name(), section->Name(),
             std::string(section->Name()) + " should be a mapping, found " +
                 DescribeValue(section->value) + "; the defaults are used");
      return;
    }
    MappingKeys keys(section->value, KeyPlace::kDiagnostics);
    noteKeys(keys);
    for (const FlowFileKey& key : FlowFileKeys()) {
      if (key.place == KeyPlace::kDiagnostics) {
        readSetting(keys, key, records, section->Name());
      }
    }
    if (keep_) {
      file_.diagnostics = std::move(keys);
    }
  }

  void readSetting(const MappingKeys& keys, const FlowFileKey& key,
                   const KeyRecords<false>& records, const char* section) {
    try {
      readKey(keys, key, records);
    } catch (const YAML::Exception&) {
      const FoundKey& found = *failure_->found;
      const std::string message =
          failure_->out_of_range
              ? RangeText(found) + "; " + FallbackText(key)
              : fmt::format("{} should be {}, found {}; {}", found.Name(), ExpectedText(key),
                            DescribeValue(found.value), FallbackText(key));
      refuse(failureCode(), found.ValueMark(), found.Name(), section, message);
      failure_.reset();
      return;
    }
    const FoundKey* found = keys.Find(key);
    if (key.non_empty && found != nullptr) {
      VisitField(key, records, [&](auto& field) {
        using T = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<T, std::string>) {
          if (field.empty()) {
            refuse(FindingCode::kEmptyValue, found->ValueMark(), found->Name(), section,
                   fmt::format("{} should not be empty; {}", found->Name(), FallbackText(key)));
            field = std::get<T>(key.default_value);
          }
        }
      });
    }
  }

  void refuse(FindingCode code, const YAML::Mark& mark, const char* key, const char* section,
              const std::string& message) {
    if (log_) {
      KLOG_ERROR("Invalid {} configuration: {}", section, message);
    }
    addError(code, mark, key, message);
  }

  /// The heartbeat flow always starts with its own point; repeat_max below
  /// repeat_cnt keeps the ordered flow on it for good.
  static void prependHeartbeatPoint(TraceFlowCfg& flow) {
    auto& points = flow.flow_points;
    if (!points.empty() && points.front()->point_id == kHeartbeatFlowId) {
      return;
    }
    auto point = std::make_shared<TracePointCfg>(kHeartbeatFlowId);
    point->on_success = true;
    point->repeat_cnt = 100;
    point->repeat_max = 10;
    points.push_front(std::move(point));
  }

  /// A whole number too large, negative, or outside the key's range is out of
  /// range; anything else that does not convert is of the wrong type.
  FindingCode failureCode() const {
    const FoundKey& found = *failure_->found;
    return failure_->out_of_range ||
                   (found.key->type == KeyType::kUint32 && LooksLikeInteger(found.value))
               ? FindingCode::kOutOfRange
               : FindingCode::kWrongType;
  }

  /// The finding for an entry (`what`: "point" or "flow") dropped by `e`:
  /// a value that does not convert, or an entry that is no mapping.
  void addEntryError(const YAML::Node& entry, const YAML::Exception& e, const char* list_key,
                     const char* what) {
    if (failure_) {
      const FoundKey& found = *failure_->found;
      addError(failureCode(), found.ValueMark(), found.Name(),
               fmt::format("{} should be {}, found {}; the {} is dropped", found.Name(),
                           ExpectedText(*found.key), DescribeValue(found.value), what));
      failure_.reset();
    } else if (!entry.IsMap()) {
      addError(FindingCode::kWrongType, entry.Mark(), list_key,
               std::string(what) + " entry is not a mapping; it is dropped");
    } else {
      addError(FindingCode::kWrongType, e.mark, "", e.msg + "; the " + what + " is dropped");
    }
  }

  void addError(FindingCode code, const YAML::Mark& mark, const std::string& key,
                std::string message) {
    add(FindingSeverity::kError, code, mark, key, std::move(message));
  }

  void add(FindingSeverity severity, FindingCode code, const YAML::Mark& mark,
           const std::string& key, std::string message) {
    parsed().findings.push_back(MakeFinding(severity, code, mark, key, std::move(message)));
  }

  const bool log_;
  const bool keep_;
  ReadFile file_;
  std::optional<Failure> failure_;
};

}  // namespace

size_t Utf8Length(std::string_view text, size_t at) {
  const auto byte = [text](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    return 1;
  }
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
    high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
    return 0;
  }
  for (size_t k = 2; k < length; ++k) {
    if (byte(at + k) < 0x80 || byte(at + k) > 0xBF) {
      return 0;
    }
  }
  return length;
}

const char* FoundKey::Name() const {
  return spelling == 0 ? key->name : key->other_spellings[spelling - 1].name;
}

YAML::Mark FoundKey::ValueMark() const {
  // A key written without a value at the end of its line gets the position of
  // whatever comes next, often another line: point at the key instead.
  const YAML::Mark mark = value.Mark();
  return value.IsNull() && mark.line != key_mark.line ? key_mark : mark;
}

MappingKeys::MappingKeys(const YAML::Node& node, KeyPlace place) : mark_(node.Mark()) {
  if (!node.IsMap()) {
    return;
  }
  const std::vector<PlaceName>& names = NamesAt(place);
  for (const auto& entry : node) {
    const YAML::Node& key = entry.first;
    if (!key.IsScalar()) {
      others_.push_back({"", key.Mark()});
      continue;
    }
    const std::string& text = key.Scalar();
    if (text == "<<") {
      merges_.push_back(key.Mark());
      continue;
    }
    const auto name = std::find_if(names.begin(), names.end(), [&text](const PlaceName& candidate) {
      return candidate.name == text;
    });
    if (name == names.end()) {
      others_.push_back({text, key.Mark()});
      continue;
    }
    FoundKey found{name->key, name->spelling, key.Mark(), entry.second};
    const auto first = std::find_if(known_.begin(), known_.end(), [&found](const FoundKey& k) {
      return k.key == found.key && k.spelling == found.spelling;
    });
    if (first != known_.end()) {
      repeated_.push_back({std::move(found), first->key_mark});
    } else {
      known_.push_back(std::move(found));
    }
  }
}

const FoundKey* MappingKeys::Find(const FlowFileKey& key) const {
  const FoundKey* best = nullptr;
  for (const FoundKey& found : known_) {
    if (found.key == &key && (best == nullptr || found.spelling < best->spelling)) {
      best = &found;
    }
  }
  return best;
}

std::optional<FieldValue> ValueOf(const FlowFileKey& key, const KeyRecords<true>& records) {
  std::optional<FieldValue> value;
  VisitField(key, records, [&](const auto& field) { value = Stored(key, field); });
  return value;
}

std::string DescribeValue(const YAML::Node& value) {
  switch (value.Type()) {
    case YAML::NodeType::Scalar:
      return "'" + value.Scalar() + "'";
    case YAML::NodeType::Sequence:
      return "a sequence";
    case YAML::NodeType::Map:
      return "a mapping";
    default:
      return "no value";
  }
}

ConfigFinding MakeFinding(FindingSeverity severity, FindingCode code, const YAML::Mark& mark,
                          std::string key, std::string message) {
  const bool known = !mark.is_null() && mark.line >= 0;
  return ConfigFinding{severity,
                       code,
                       known ? mark.line + 1 : 0,
                       known ? mark.column + 1 : 0,
                       std::move(key),
                       std::move(message)};
}

ReadFile ReadFlowConfigText(const std::string& text) {
  return FlowConfigReader(false, true).Read(text);
}

ParsedFlowConfig ParseFlowConfigLogged(const std::string& text) {
  return FlowConfigReader(true, false).Read(text).parsed;
}

}  // namespace detail

ParsedFlowConfig ParseFlowConfig(const std::string& text) {
  return detail::FlowConfigReader(false, false).Read(text).parsed;
}

bool HasErrors(const std::vector<ConfigFinding>& findings, bool warnings_are_errors) {
  return std::any_of(findings.begin(), findings.end(), [&](const ConfigFinding& finding) {
    return warnings_are_errors || finding.severity == FindingSeverity::kError;
  });
}

std::vector<std::shared_ptr<TraceFlowCfg>> LoadedFlows(const ParsedFlowConfig& parsed) {
  std::unordered_map<std::string, size_t> last;
  for (size_t i = 0; i < parsed.flows.size(); ++i) {
    last[parsed.flows[i]->flow_id] = i;
  }
  std::vector<std::shared_ptr<TraceFlowCfg>> flows;
  for (size_t i = 0; i < parsed.flows.size(); ++i) {
    if (last[parsed.flows[i]->flow_id] == i) {
      flows.push_back(parsed.flows[i]);
    }
  }
  return flows;
}

}  // namespace trace
}  // namespace kestrune
