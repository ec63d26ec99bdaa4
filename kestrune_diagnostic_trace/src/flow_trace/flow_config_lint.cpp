// Checks of a flow configuration beyond what Init refuses: the parser supplies
// the errors, a walk over the YAML with its positions supplies the rest.
#include "kestrune_diagnostic_trace/flow_config_lint.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>
#include <tuple>
#include <unordered_map>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include <rclcpp/exceptions.hpp>
#include <rclcpp/expand_topic_or_service_name.hpp>
#include "flow_config_tree.hpp"

namespace kestrune {
namespace trace {

namespace {

using Keys = std::vector<std::string>;

const Keys kTopKeys{"workflows", "diagnostics", "points_topic"};
const Keys kDiagnosticsKeys{"enabled", "period_ms", "hardware_id"};
const Keys kFlowKeys{"flow_id",  "flow_name",    "diag_topic", "description", "check_order",
                     "event_id", "failure_id",   "faliure_id", "duration_ms", "stall_ms",
                     "remote",   "check_at_end", "flow_points"};
const Keys kPointKeys{"point_id",   "point_desc", "description", "optional",   "event_id",
                      "failure_id", "faliure_id", "on_success",  "on_failure", "on_timeout",
                      "repeat_cnt", "repeat_max", "timeout_ms",  "freq_min"};
const char* const kEventIdKeys[] = {"event_id", "failure_id", "faliure_id"};

/// Edits (insert, delete, replace, swap of neighbours) turning `a` into `b`.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) {
    d[i][0] = i;
  }
  for (size_t j = 0; j <= b.size(); ++j) {
    d[0][j] = j;
  }
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

/// The known key nearest to `key`, if it is near enough to be a slip of it.
std::optional<std::string> NearestKey(const std::string& key, const Keys& known) {
  std::optional<std::string> best;
  size_t best_distance = std::max<size_t>(2, key.size() / 3) + 1;
  for (const auto& candidate : known) {
    const size_t distance = EditDistance(key, candidate);
    if (distance < best_distance) {
      best_distance = distance;
      best = candidate;
    }
  }
  return best;
}

bool Contains(const Keys& keys, const std::string& key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

/// A value as the parser would read it, or nothing when that conversion fails
/// (the parser reports those).
template <typename T>
std::optional<T> ValueOf(const YAML::Node& node) {
  try {
    return node.as<T>();
  } catch (const YAML::Exception&) {
    return std::nullopt;
  }
}

/// A mapping's entries, read once. yaml-cpp converts every key of a mapping to
/// compare it on each lookup, which dominates the walk over a large file.
class Fields {
 public:
  explicit Fields(const YAML::Node& map) : mark_(map.Mark()) {
    for (const auto& entry : map) {
      if (entry.first.IsScalar()) {
        entries_.push_back({entry.first.Scalar(), entry.first.Mark(), entry.second});
      }
    }
  }

  /// The value of `key`, or nullptr when absent; the first of repeated keys, as yaml-cpp does.
  const YAML::Node* Find(const std::string& key) const {
    const Entry* entry = entryOf(key);
    return entry != nullptr ? &entry->value : nullptr;
  }

  /// The position of `key` itself (a key without a value has none of its own),
  /// else of the mapping.
  YAML::Mark KeyMark(const std::string& key) const {
    const Entry* entry = entryOf(key);
    return entry != nullptr ? entry->key_mark : mark_;
  }

  const YAML::Mark& Mark() const { return mark_; }

  template <typename Visit>
  void ForEachKey(Visit visit) const {
    for (const auto& entry : entries_) {
      visit(entry.key, entry.key_mark);
    }
  }

  /// The first present key of event_id, failure_id, faliure_id, as the parser picks it.
  const char* EventIdKey() const {
    for (const char* key : kEventIdKeys) {
      if (Find(key) != nullptr) {
        return key;
      }
    }
    return nullptr;
  }

  /// The value of `key` converted as the parser converts it; nothing when absent
  /// or when the conversion fails (the parser reports that).
  template <typename T>
  std::optional<T> Value(const std::string& key) const {
    const YAML::Node* value = Find(key);
    return value != nullptr ? ValueOf<T>(*value) : std::nullopt;
  }

 private:
  struct Entry {
    std::string key;
    YAML::Mark key_mark;
    YAML::Node value;
  };

  const Entry* entryOf(const std::string& key) const {
    for (const auto& entry : entries_) {
      if (entry.key == key) {
        return &entry;
      }
    }
    return nullptr;
  }

  YAML::Mark mark_;
  std::vector<Entry> entries_;
};

/// A point as read: the keys the warnings look at, with their values when they convert.
struct PointFacts {
  std::string point_id;
  const char* event_key{nullptr};
  std::optional<uint32_t> event_id{0};
  std::optional<bool> on_success{false};
  std::optional<bool> on_failure;  // only when written: its default says nothing
  std::optional<bool> on_timeout{false};
  std::optional<uint32_t> repeat_cnt{0};
  std::optional<uint32_t> repeat_max{0};
  std::optional<uint32_t> timeout_ms{0};
};

/// Where an event id was first seen on a topic.
struct EventIdUse {
  std::string flow_id;
  std::string point_id;
  int line;
};

class Linter {
 public:
  explicit Linter(std::vector<ConfigFinding>& findings) : findings_(findings) {}

  void Run(const YAML::Node& root) {
    if (!root.IsMap()) {
      return;
    }
    const Fields top(root);
    CheckKeys(top, kTopKeys, "at the top level");
    if (const YAML::Node* diagnostics = top.Find("diagnostics");
        diagnostics != nullptr && diagnostics->IsMap()) {
      CheckKeys(Fields(*diagnostics), kDiagnosticsKeys, "in diagnostics");
    }
    const YAML::Node* workflows = top.Find("workflows");
    std::vector<Fields> flows;
    if (workflows != nullptr && workflows->IsSequence()) {
      for (const YAML::Node& entry : *workflows) {
        if (entry.IsMap()) {
          flows.emplace_back(entry);
        }
      }
    }
    if (const YAML::Node* points_topic = top.Find("points_topic");
        points_topic != nullptr && points_topic->IsScalar() && !points_topic->Scalar().empty()) {
      // Init refuses it only for a remote flow's sender; a checker loading the file always.
      const bool sent = std::any_of(flows.begin(), flows.end(), [](const Fields& flow) {
        return flow.Value<bool>("remote").value_or(false);
      });
      CheckTopic("points_topic", points_topic->Scalar(), points_topic->Mark(),
                 sent ? FindingSeverity::kError : FindingSeverity::kWarning);
    }
    if (workflows == nullptr || !workflows->IsSequence()) {
      return;
    }
    const std::vector<bool> loaded = FlowsThatLoad(flows);
    for (size_t i = 0; i < flows.size(); ++i) {
      CheckFlow(flows[i], loaded[i]);
    }
  }

 private:
  void Add(FindingSeverity severity, const YAML::Mark& mark, const std::string& key,
           std::string message) {
    const bool known = mark.line >= 0;
    findings_.push_back({severity, known ? mark.line + 1 : 0, known ? mark.column + 1 : 0, key,
                         std::move(message)});
  }

  void CheckKeys(const Fields& map, const Keys& known, const char* where) {
    map.ForEachKey([&](const std::string& key, const YAML::Mark& mark) {
      if (Contains(known, key)) {
        return;
      }
      std::string message = fmt::format("unknown key '{}' {}; it is ignored", key, where);
      if (auto nearest = NearestKey(key, known)) {
        message = fmt::format("unknown key '{}'; did you mean '{}'?", key, *nearest);
      } else if (&known == &kPointKeys && Contains(kFlowKeys, key)) {
        message = fmt::format("key '{}' belongs to a flow, not to a point; it is ignored", key);
      } else if (&known == &kFlowKeys && Contains(kPointKeys, key)) {
        message = fmt::format("key '{}' belongs to a point, not to a flow; it is ignored", key);
      }
      Add(FindingSeverity::kWarning, mark, key, std::move(message));
    });
    if (map.Find("faliure_id") != nullptr) {
      const std::string used = map.EventIdKey();
      Add(FindingSeverity::kWarning, map.KeyMark("faliure_id"), "faliure_id",
          used == "faliure_id"
              ? "key 'faliure_id' is a misspelling kept for old files; write 'event_id'"
              : fmt::format("key 'faliure_id' is ignored: '{}' is given", used));
    }
  }

  /// Which flows Init keeps: per flow id the last entry whose own keys convert.
  /// Reports every earlier entry of a kept id as a duplicate.
  std::vector<bool> FlowsThatLoad(const std::vector<Fields>& flows) {
    std::vector<bool> loaded(flows.size(), false);
    std::unordered_map<std::string, size_t> last;
    for (size_t i = 0; i < flows.size(); ++i) {
      const auto flow_id = flows[i].Value<std::string>("flow_id");
      if (!flow_id || !FlowKeysConvert(flows[i])) {
        continue;
      }
      auto earlier = last.find(*flow_id);
      if (earlier != last.end()) {
        loaded[earlier->second] = false;
        Add(FindingSeverity::kError, flows[i].KeyMark("flow_id"), "flow_id",
            fmt::format("flow id '{}' is already used by the flow at line {}; Init keeps only "
                        "the later one",
                        *flow_id, flows[earlier->second].KeyMark("flow_id").line + 1));
      }
      last[*flow_id] = i;
      loaded[i] = true;
    }
    return loaded;
  }

  /// Whether the flow's own keys convert, so that Init keeps the flow.
  static bool FlowKeysConvert(const Fields& flow) {
    for (const char* key : {"flow_id", "flow_name", "diag_topic", "description"}) {
      if (flow.Find(key) != nullptr && !flow.Value<std::string>(key)) {
        return false;
      }
    }
    for (const char* key : {"check_order", "remote", "check_at_end"}) {
      if (flow.Find(key) != nullptr && !flow.Value<bool>(key)) {
        return false;
      }
    }
    const char* event_key = flow.EventIdKey();
    if (event_key != nullptr && !flow.Value<uint32_t>(event_key)) {
      return false;
    }
    if (flow.Find("stall_ms") != nullptr && !flow.Value<uint32_t>("stall_ms")) {
      return false;
    }
    const bool heartbeat = flow.Value<std::string>("flow_id") == kHeartbeatFlowId;
    return !(heartbeat && flow.Find("duration_ms") != nullptr &&
             !flow.Value<uint32_t>("duration_ms"));
  }

  void CheckFlow(const Fields& flow, bool loads) {
    CheckKeys(flow, kFlowKeys, "in a flow");
    const YAML::Node* id_node = flow.Find("flow_id");
    const std::string flow_id = flow.Value<std::string>("flow_id").value_or("");
    if (id_node == nullptr) {
      Add(FindingSeverity::kError, flow.Mark(), "flow_id",
          "flow has no 'flow_id'; Init loads it under the empty id, which cannot be traced");
    } else if (id_node->IsNull()) {
      Add(FindingSeverity::kWarning, flow.KeyMark("flow_id"), "flow_id",
          "key 'flow_id' has no value; the flow's id is the text 'null'");
    } else if (id_node->IsScalar() && flow_id.empty()) {
      Add(FindingSeverity::kError, id_node->Mark(), "flow_id",
          "key 'flow_id' is empty; an empty flow id cannot be traced");
    }
    const bool heartbeat = flow_id == kHeartbeatFlowId;

    const std::string topic = flow.Value<std::string>("diag_topic").value_or("");
    if (const YAML::Node* topic_node = flow.Find("diag_topic")) {
      if (topic_node->IsNull()) {
        Add(FindingSeverity::kWarning, flow.KeyMark("diag_topic"), "diag_topic",
            "key 'diag_topic' has no value; the events go to the topic 'null'");
      } else if (topic_node->IsScalar() && !topic.empty()) {
        CheckTopic("diag_topic", topic, topic_node->Mark());
      }
    }
    if (flow.Find("duration_ms") != nullptr && !heartbeat) {
      Add(FindingSeverity::kWarning, flow.KeyMark("duration_ms"), "duration_ms",
          fmt::format("key 'duration_ms' is read only for the heartbeat flow; flow '{}' ignores it",
                      flow_id));
    }
    if (flow.Find("stall_ms") != nullptr && heartbeat) {
      Add(FindingSeverity::kWarning, flow.KeyMark("stall_ms"), "stall_ms",
          "key 'stall_ms' is not read for the heartbeat flow: a late beat is judged by its period");
    }
    if (flow.Find("check_at_end") != nullptr && heartbeat) {
      Add(FindingSeverity::kWarning, flow.KeyMark("check_at_end"), "check_at_end",
          "key 'check_at_end' is not read for the heartbeat flow: its run never ends");
    }
    if (flow.Find("remote") != nullptr && heartbeat) {
      Add(FindingSeverity::kWarning, flow.KeyMark("remote"), "remote",
          "key 'remote' is not read for the heartbeat flow: it beats in the node itself");
    }
    const bool ordered = flow.Value<bool>("check_order").value_or(true);

    const YAML::Node* points = flow.Find("flow_points");
    if (points == nullptr) {
      if (!heartbeat) {
        Add(FindingSeverity::kWarning, flow.Mark(), "flow_points",
            fmt::format("flow '{}' has no 'flow_points'; it has no points to check", flow_id));
      }
      return;
    }
    if (!points->IsSequence()) {
      return;  // the parser warns
    }
    if (points->size() == 0 && !heartbeat) {
      Add(FindingSeverity::kWarning, flow.KeyMark("flow_points"), "flow_points",
          fmt::format("key 'flow_points' is empty; flow '{}' has no points to check", flow_id));
    }
    for (const YAML::Node& entry : *points) {
      if (!entry.IsMap()) {
        continue;
      }
      const Fields point(entry);
      CheckPoint(point, flow_id, topic, ordered && !heartbeat, ordered, loads);
    }
  }

  void CheckTopic(const char* key, const std::string& topic, const YAML::Mark& mark,
                  FindingSeverity severity = FindingSeverity::kError) {
    try {
      // Init expands the name on the node it was given; the node's name and
      // namespace cannot make an invalid name valid.
      rclcpp::expand_topic_or_service_name(topic, "kestrune_flow", "/");
    } catch (const rclcpp::exceptions::NameValidationError& e) {
      Add(severity, mark, key,
          fmt::format("key '{}': '{}' is not a valid ROS 2 topic name: {} (character {})", key,
                      topic, e.error_msg, e.invalid_index + 1));
    } catch (const std::runtime_error& e) {
      // rclcpp reports an unknown substitution such as "{robot}" this way.
      Add(severity, mark, key,
          fmt::format("key '{}': '{}' is not a valid ROS 2 topic name: {}", key, topic, e.what()));
    }
  }

  static PointFacts ReadPoint(const Fields& point) {
    PointFacts facts;
    facts.point_id = point.Value<std::string>("point_id").value_or("");
    facts.event_key = point.EventIdKey();
    if (facts.event_key != nullptr) {
      facts.event_id = point.Value<uint32_t>(facts.event_key);
    }
    auto read = [&point](const char* key, auto& field) {
      if (point.Find(key) != nullptr) {
        field = point.Value<typename std::decay_t<decltype(field)>::value_type>(key);
      }
    };
    read("on_success", facts.on_success);
    read("on_failure", facts.on_failure);
    read("on_timeout", facts.on_timeout);
    read("repeat_cnt", facts.repeat_cnt);
    read("repeat_max", facts.repeat_max);
    read("timeout_ms", facts.timeout_ms);
    return facts;
  }

  void CheckPoint(const Fields& point, const std::string& flow_id, const std::string& topic,
                  bool repeats_bind, bool ordered, bool flow_loads) {
    CheckKeys(point, kPointKeys, "in a point");
    const PointFacts facts = ReadPoint(point);
    const std::string& id = facts.point_id;
    if (facts.event_id == 0u) {
      for (const auto& key_value : {std::make_pair("on_success", facts.on_success),
                                    std::make_pair("on_failure", facts.on_failure),
                                    std::make_pair("on_timeout", facts.on_timeout)}) {
        if (key_value.second == true) {
          Add(FindingSeverity::kWarning, point.KeyMark(key_value.first), key_value.first,
              fmt::format("key '{}' is true but point '{}' has event_id 0; nothing is published",
                          key_value.first, id));
        }
      }
    }

    if (facts.timeout_ms.value_or(0) != 0) {
      std::string why;
      if (!ordered) {
        why = fmt::format("flow '{}' is unordered, and only ordered flows time points", flow_id);
      } else if (facts.repeat_cnt == 0u) {
        why =
            fmt::format("only repeated points (repeat_cnt above 0) are timed, and '{}' is not", id);
      } else if (facts.on_timeout == false) {
        why = fmt::format("a late '{}' is published only with 'on_timeout: true'", id);
      }
      if (!why.empty()) {
        Add(FindingSeverity::kWarning, point.KeyMark("timeout_ms"), "timeout_ms",
            "key 'timeout_ms' has no effect: " + why);
      }
    } else if (facts.on_timeout == true && facts.timeout_ms == 0u) {
      Add(FindingSeverity::kWarning, point.KeyMark("on_timeout"), "on_timeout",
          fmt::format("key 'on_timeout' has no effect: point '{}' has no 'timeout_ms'", id));
    }

    if (repeats_bind && facts.repeat_max.value_or(0) != 0 && facts.repeat_cnt &&
        *facts.repeat_cnt > *facts.repeat_max) {
      Add(FindingSeverity::kWarning, point.KeyMark("repeat_max"), "repeat_max",
          fmt::format("repeat_max {} is below repeat_cnt {}: the count of point '{}' can never "
                      "complete, so only the next listed point moves flow '{}' on (as its last "
                      "point, it holds the flow for good)",
                      *facts.repeat_max, *facts.repeat_cnt, id, flow_id));
    }

    if (flow_loads && facts.event_id.value_or(0) != 0 && point.Find("point_id") != nullptr) {
      const YAML::Mark mark = point.KeyMark(facts.event_key);
      auto& uses = event_ids_[topic];
      auto earlier = uses.find(*facts.event_id);
      if (earlier == uses.end()) {
        uses.emplace(*facts.event_id, EventIdUse{flow_id, id, mark.line + 1});
      } else {
        Add(FindingSeverity::kWarning, mark, facts.event_key,
            fmt::format("event id {} is already used by point '{}' of flow '{}' (line {}) on "
                        "topic '{}'; their events cannot be told apart",
                        *facts.event_id, earlier->second.point_id, earlier->second.flow_id,
                        earlier->second.line, topic));
      }
    }
  }

  std::vector<ConfigFinding>& findings_;
  /// topic -> event id -> first point using it, over the flows Init keeps.
  std::unordered_map<std::string, std::unordered_map<uint32_t, EventIdUse>> event_ids_;
};

}  // namespace

std::vector<ConfigFinding> LintFlowConfig(const std::string& text) {
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::Exception&) {
    return ParseFlowConfig(text).findings;  // where the text stops being YAML
  }
  std::vector<ConfigFinding> findings = detail::ParseFlowConfigTree(root).findings;
  std::vector<ConfigFinding> own;
  Linter(own).Run(root);
  std::set<std::tuple<FindingSeverity, int, std::string>> reported;
  for (const auto& finding : findings) {
    reported.emplace(finding.severity, finding.line, finding.key);
  }
  for (auto& finding : own) {
    if (reported.count(std::make_tuple(finding.severity, finding.line, finding.key)) == 0) {
      findings.push_back(std::move(finding));
    }
  }
  std::stable_sort(
      findings.begin(), findings.end(), [](const ConfigFinding& a, const ConfigFinding& b) {
        return std::tie(a.line, a.column, a.severity) < std::tie(b.line, b.column, b.severity);
      });
  return findings;
}

std::vector<ConfigFinding> LintFlowConfigFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::error_code ignored;
  if (!stream || std::filesystem::is_directory(path, ignored)) {
    const std::string reason = stream ? "is a directory" : std::strerror(errno);
    return {{FindingSeverity::kError, 0, 0, "",
             fmt::format("cannot read flow configuration file '{}': {}", path, reason)}};
  }
  return LintFlowConfig(
      std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()));
}

bool HasErrors(const std::vector<ConfigFinding>& findings, bool warnings_are_errors) {
  return std::any_of(findings.begin(), findings.end(), [&](const ConfigFinding& finding) {
    return warnings_are_errors || finding.severity == FindingSeverity::kError;
  });
}

}  // namespace trace
}  // namespace kestrune
