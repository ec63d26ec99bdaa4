// Reading a flow configuration text into flow records and findings.
#include "kestrune_diagnostic_trace/flow_config.hpp"

#include <cstdint>
#include <limits>
#include <utility>

#include <yaml-cpp/depthguard.h>
#include <yaml-cpp/yaml.h>

#include "flow_config_log.hpp"
#include "flow_config_tree.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace trace {

namespace {

template <typename T>
const char* ExpectedText();
template <>
const char* ExpectedText<std::string>() {
  return "a string";
}
template <>
const char* ExpectedText<bool>() {
  return "a boolean (true/false, yes/no, on/off)";
}
template <>
const char* ExpectedText<uint32_t>() {
  return "an unsigned 32-bit integer";
}
template <>
const char* ExpectedText<float>() {
  return "a number";
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

/// One pass over a configuration text. With `log` set it writes, in order, the
/// lines Init has always written while reading a file.
class FlowConfigReader {
 public:
  explicit FlowConfigReader(bool log) : log_(log) {}

  ParsedFlowConfig Read(const std::string& text) && {
    YAML::Node root;
    try {
      root = YAML::Load(text);
    } catch (const YAML::Exception& e) {
      fileRefused(e);
      return std::move(result_);
    }
    return std::move(*this).Read(root);
  }

  ParsedFlowConfig Read(const YAML::Node& root) && {
    try {
      const YAML::Node workflows = root["workflows"];
      if (!workflows || workflows.IsNull()) {
        if (log_) {
          KLOG_ERROR("No workflows configuration found");
        }
        addError(workflows ? keyMark(root, "workflows") : root.Mark(), "workflows",
                 "no workflows configuration found");
        return std::move(result_);
      }
      if (!workflows.IsSequence()) {
        if (log_) {
          KLOG_ERROR("workflows should be a sequence");
        }
        addError(workflows.Mark(), "workflows",
                 "workflows should be a sequence, found " + DescribeValue(workflows));
        return std::move(result_);
      }
      for (const YAML::Node& entry : workflows) {
        if (auto flow = parseTraceFlowCfg(entry)) {
          result_.flows.push_back(std::move(flow));
        }
      }
      readDiagnostics(root["diagnostics"]);
      readPointsTopic(root);
    } catch (const YAML::Exception& e) {
      fileRefused(e);
      return std::move(result_);
    }
    for (auto& flow : result_.flows) {
      if (flow->flow_id == kHeartbeatFlowId) {
        prependHeartbeatPoint(*flow);
      }
    }
    return std::move(result_);
  }

 private:
  /// The finding, and with logging the line, for a file Init refuses as a whole.
  void fileRefused(const YAML::Exception& e) {
    if (dynamic_cast<const YAML::DeepRecursion*>(&e) != nullptr) {
      // yaml-cpp stops at its nesting limit but words it as "bad file".
      if (log_) {
        KLOG_ERROR("Failed to parse flow configuration file: {}",
                   fmt::format("yaml-cpp: error at line {}, column {}: nesting too deep",
                               e.mark.line + 1, e.mark.column + 1));
      }
      addError(e.mark, "", "nesting too deep");
      return;
    }
    if (log_) {
      KLOG_ERROR("Failed to parse flow configuration file: {}", e.what());
    }
    if (dynamic_cast<const YAML::BadSubscript*>(&e) != nullptr) {
      // The only lookup outside an entry: a document that is a single scalar.
      addError(e.mark, "workflows", "the document should be a mapping with the key workflows");
    } else {
      addError(e.mark, "", e.msg);
    }
  }

  /// Sets `field` from `key` when the key is present. A conversion error
  /// throws (yaml-cpp 0.7 refuses a negative number for an unsigned field);
  /// the key and node stay noted for the finding.
  template <typename T>
  void readIfPresent(const YAML::Node& node, const char* key, T& field) {
    const YAML::Node value = node[key];
    if (!value) {
      return;
    }
    conversion_key_ = key;
    // reset, not assignment: assigning a YAML::Node overwrites the node it refers
    // to, which would rewrite the document (and every alias of an anchor) as it is read.
    conversion_value_.reset(value);
    // A key written without a value at the end of its line gets the position of
    // whatever comes next, often another line: point at the key instead.
    conversion_mark_ = value.Mark();
    if (value.IsNull() && keyMark(node, key).line != conversion_mark_.line) {
      conversion_mark_ = keyMark(node, key);
    }
    conversion_expected_ = ExpectedText<T>();
    field = value.as<T>();
    conversion_key_ = nullptr;
  }

  /// Where `key` is written in `map`: a key without a value has no place of its own.
  static YAML::Mark keyMark(const YAML::Node& map, const char* key) {
    for (const auto& entry : map) {
      if (entry.first.IsScalar() && entry.first.Scalar() == key) {
        return entry.first.Mark();
      }
    }
    return map.Mark();
  }

  /// The event id comes from the first present key of event_id, failure_id, faliure_id.
  /// Events carry it in a signed 32-bit field, so an id above its range is refused
  /// like a negative one rather than published wrapped.
  void readEventId(const YAML::Node& node, uint32_t& event_id) {
    for (const char* key : {"event_id", "failure_id", "faliure_id"}) {
      const YAML::Node value = node[key];
      if (!value) {
        continue;
      }
      uint32_t id = 0;
      readIfPresent(node, key, id);
      constexpr uint32_t kLargest = std::numeric_limits<int32_t>::max();
      if (id > kLargest) {
        conversion_key_ = key;
        conversion_value_.reset(value);
        conversion_expected_ = "an event id of at most 2147483647";
        throw YAML::RepresentationException(
            value.Mark(), fmt::format("{} {} is out of range, the largest event id is {}", key,
                                      value.Scalar(), kLargest));
      }
      event_id = id;
      return;
    }
  }

  std::shared_ptr<TracePointCfg> parseTracePointCfg(const YAML::Node& node) {
    auto point = std::make_shared<TracePointCfg>();
    try {
      if (!node["point_id"]) {
        if (log_) {
          KLOG_ERROR("point_id parse failed, point config invalid");
        }
        if (node.IsMap()) {
          addError(node.Mark(), "point_id", "point without point_id; it is dropped");
        } else {
          addError(node.Mark(), "flow_points", "point entry is not a mapping; it is dropped");
        }
        return nullptr;
      }
      readIfPresent(node, "point_id", point->point_id);
      readEventId(node, point->event_id);
      readIfPresent(node, "on_success", point->on_success);
      readIfPresent(node, "on_failure", point->on_failure);
      readIfPresent(node, "on_timeout", point->on_timeout);
      readIfPresent(node, "repeat_cnt", point->repeat_cnt);
      readIfPresent(node, "repeat_max", point->repeat_max);
      readIfPresent(node, "timeout_ms", point->timeout_ms);
      readIfPresent(node, "freq_min", point->freq_min);
      if (node["point_desc"]) {
        readIfPresent(node, "point_desc", point->description);
      } else {
        readIfPresent(node, "description", point->description);
      }
      bool optional = false;
      readIfPresent(node, "optional", optional);
      point->is_critical = !optional;
    } catch (const YAML::Exception& e) {
      if (log_) {
        KLOG_ERROR("Failed to parse trace point config: {}", e.what());
      }
      addEntryError(node, e, "flow_points", "point");
      return nullptr;
    }
    if (log_) {
      KLOG_INFO("Parsed trace point config: point_id={}, description={}, is_critical={}",
                point->point_id, point->description, point->is_critical);
    }
    return point;
  }

  std::shared_ptr<TraceFlowCfg> parseTraceFlowCfg(const YAML::Node& node) {
    auto flow = std::make_shared<TraceFlowCfg>();
    try {
      // A list or an empty entry has no keys to look up and would load silently as
      // an unnamed flow without points. Scalars already fail on the first lookup.
      if (!node.IsMap() && !node.IsScalar()) {
        throw YAML::Exception(node.Mark(), "flow entry is not a mapping");
      }
      readIfPresent(node, "flow_id", flow->flow_id);
      readIfPresent(node, "flow_name", flow->flow_name);
      readIfPresent(node, "diag_topic", flow->diag_topic);
      readIfPresent(node, "description", flow->description);
      flow->check_order = true;
      readIfPresent(node, "check_order", flow->check_order);
      readEventId(node, flow->event_id);
      readIfPresent(node, "stall_ms", flow->stall_ms);
      readIfPresent(node, "remote", flow->remote);
      readIfPresent(node, "check_at_end", flow->check_at_end);
      if (flow->flow_id == kHeartbeatFlowId) {
        uint32_t duration_ms = 0;
        readIfPresent(node, "duration_ms", duration_ms);
        result_.heartbeat_period_ms = duration_ms;
      }
      const YAML::Node points = node["flow_points"];
      if (points && points.IsSequence()) {
        for (const YAML::Node& entry : points) {
          if (auto point = parseTracePointCfg(entry)) {
            flow->flow_points.push_back(std::move(point));
          }
        }
      } else if (points) {
        add(FindingSeverity::kWarning, points.Mark(), "flow_points",
            "flow_points should be a sequence, found " + DescribeValue(points) +
                "; the flow has no points");
      }
    } catch (const YAML::Exception& e) {
      if (log_) {
        KLOG_ERROR("Failed to parse trace flow config: {}", e.what());
      }
      addEntryError(node, e, "workflows", "flow");
      return nullptr;
    }
    if (log_) {
      KLOG_DEBUG(
          "Parsed trace flow config: flow_id={}, flow_name={}, check_order={}, points_count={}",
          flow->flow_id, flow->flow_name, flow->check_order, flow->flow_points.size());
    }
    return flow;
  }

  /// The diagnostics section. A key that is refused keeps its default, with an
  /// error; the flows load either way.
  void readDiagnostics(const YAML::Node& section) {
    if (!section || section.IsNull()) {
      return;
    }
    if (!section.IsMap()) {
      refuseDiagnostics(section.Mark(), "diagnostics",
                        "diagnostics should be a mapping, found " + DescribeValue(section) +
                            "; diagnostics stay off");
      return;
    }
    DiagnosticsConfig& config = result_.diagnostics;
    readDiagnosticsKey(section, "enabled", config.enabled, "diagnostics stay off");
    uint32_t period_ms = config.period_ms;
    if (readDiagnosticsKey(section, "period_ms", period_ms, "the default 1000 is used") &&
        section["period_ms"]) {
      if (period_ms < DiagnosticsConfig::kMinPeriodMs ||
          period_ms > DiagnosticsConfig::kMaxPeriodMs) {
        refuseDiagnostics(section["period_ms"].Mark(), "period_ms",
                          fmt::format("period_ms {} is outside 100 to 4000; the default {} is used",
                                      period_ms, DiagnosticsConfig::kDefaultPeriodMs));
      } else {
        config.period_ms = period_ms;
      }
    }
    std::string hardware_id;
    if (readDiagnosticsKey(section, "hardware_id", hardware_id, "the node's name is used") &&
        section["hardware_id"] && hardware_id.empty()) {
      refuseDiagnostics(section["hardware_id"].Mark(), "hardware_id",
                        "hardware_id should not be empty; the node's name is used");
    }
    config.hardware_id = hardware_id;
  }

  /// The top-level points_topic; a value that is no text keeps the default, with an error.
  void readPointsTopic(const YAML::Node& root) {
    const YAML::Node value = root["points_topic"];
    if (!value) {
      return;
    }
    if (!value.IsScalar() || value.Scalar().empty()) {
      const std::string message = "points_topic should be a topic name, found " +
                                  DescribeValue(value) + "; the default " + kDefaultPointsTopic +
                                  " is used";
      if (log_) {
        KLOG_ERROR("Invalid points_topic: {}", message);
      }
      addError(value.IsNull() ? keyMark(root, "points_topic") : value.Mark(), "points_topic",
               message);
      return;
    }
    result_.points_topic = value.Scalar();
  }

  /// Reads one key of the diagnostics section; false, with the error, when it
  /// does not convert.
  template <typename T>
  bool readDiagnosticsKey(const YAML::Node& section, const char* key, T& field,
                          const char* fallback) {
    try {
      readIfPresent(section, key, field);
      return true;
    } catch (const YAML::Exception&) {
      conversion_key_ = nullptr;
      refuseDiagnostics(conversion_mark_, key,
                        std::string(key) + " should be " + conversion_expected_ + ", found " +
                            DescribeValue(conversion_value_) + "; " + fallback);
      return false;
    }
  }

  void refuseDiagnostics(const YAML::Mark& mark, const char* key, const std::string& message) {
    if (log_) {
      KLOG_ERROR("Invalid diagnostics configuration: {}", message);
    }
    addError(mark, key, message);
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

  /// The finding for an entry (`what`: "point" or "flow") dropped by `e`:
  /// a value that does not convert, or an entry that is no mapping.
  void addEntryError(const YAML::Node& entry, const YAML::Exception& e, const char* list_key,
                     const char* what) {
    if (conversion_key_ != nullptr) {
      addError(conversion_mark_, conversion_key_,
               std::string(conversion_key_) + " should be " + conversion_expected_ + ", found " +
                   DescribeValue(conversion_value_) + "; the " + what + " is dropped");
      conversion_key_ = nullptr;
    } else if (!entry.IsMap()) {
      addError(entry.Mark(), list_key,
               std::string(what) + " entry is not a mapping; it is dropped");
    } else {
      addError(e.mark, "", e.msg + "; the " + what + " is dropped");
    }
  }

  void addError(const YAML::Mark& mark, const char* key, std::string message) {
    add(FindingSeverity::kError, mark, key, std::move(message));
  }

  void add(FindingSeverity severity, const YAML::Mark& mark, const char* key, std::string message) {
    // yaml-cpp counts from 0 and marks "unknown" with -1.
    const bool known = !mark.is_null() && mark.line >= 0;
    result_.findings.push_back(ConfigFinding{severity, known ? mark.line + 1 : 0,
                                             known ? mark.column + 1 : 0, key, std::move(message)});
  }

  const bool log_;
  ParsedFlowConfig result_;
  // The conversion under way, for the finding if it fails.
  const char* conversion_key_{nullptr};
  YAML::Node conversion_value_;
  YAML::Mark conversion_mark_;
  const char* conversion_expected_{""};
};

}  // namespace

ParsedFlowConfig ParseFlowConfig(const std::string& text) {
  return FlowConfigReader(false).Read(text);
}

namespace detail {

ParsedFlowConfig ParseFlowConfigLogged(const std::string& text) {
  return FlowConfigReader(true).Read(text);
}

ParsedFlowConfig ParseFlowConfigTree(const YAML::Node& root) {
  return FlowConfigReader(false).Read(root);
}

}  // namespace detail

}  // namespace trace
}  // namespace kestrune
