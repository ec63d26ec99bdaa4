// Checks of a flow configuration beyond what Init refuses: the parser supplies
// its findings and the mappings it read, the format's table what each key may
// be, and the rules below what the keys mean together.
#include "kestrune_diagnostic_trace/flow_config_lint.hpp"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include "flow_config_reader.hpp"
#include "kestrune_diagnostic_trace/flow_format.hpp"
#include "topic_name.hpp"

namespace kestrune {
namespace trace {

namespace {

using detail::FoundKey;
using detail::MappingKeys;
using detail::ReadFile;
using detail::ReadFlow;
using detail::ReadPoint;

/// Edits (insert, delete, replace, swap of neighbours) turning `a` into `b`.
size_t EditDistance(std::string_view a, std::string_view b) {
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

/// The name known at `place` nearest to `key`, if it is near enough to be a slip of it.
std::optional<std::string> NearestName(const std::string& key, KeyPlace place) {
  std::optional<std::string> best;
  size_t best_distance = std::max<size_t>(2, key.size() / 3) + 1;
  auto consider = [&](const char* candidate) {
    const size_t distance = EditDistance(key, candidate);
    if (distance < best_distance) {
      best_distance = distance;
      best = candidate;
    }
  };
  for (const FlowFileKey& known : FlowFileKeys()) {
    if (known.place == place) {
      consider(known.name);
      for (const OtherSpelling& spelling : known.other_spellings) {
        consider(spelling.name);
      }
    }
  }
  return best;
}

const char* Where(KeyPlace place) {
  switch (place) {
    case KeyPlace::kTop:
      return "at the top level";
    case KeyPlace::kDiagnostics:
      return "in diagnostics";
    case KeyPlace::kFlow:
      return "in a flow";
    case KeyPlace::kPoint:
      return "in a point";
  }
  return "";
}

const char* Owner(KeyPlace place) {
  return place == KeyPlace::kFlow ? "a flow" : place == KeyPlace::kPoint ? "a point" : "the file";
}

const FlowFileKey& KeyAt(KeyPlace place, const char* name) {
  const FlowFileKey* key = FindFlowFileKey(place, name);
  if (key == nullptr) {
    throw std::logic_error(std::string("the flow format has no key ") + name);
  }
  return *key;
}

/// Where an event id was first seen on a topic.
struct EventIdUse {
  std::string flow_id;
  std::string point_id;
  int line;
};

class Linter {
 public:
  Linter(const ReadFile& file, std::vector<ConfigFinding>& findings)
      : file_(file), findings_(findings) {}

  void Run() {
    if (file_.top) {
      // A file that is no flow file at all gets one error, and warnings only
      // for top-level keys that look like a slip of a known one.
      const bool flow_file =
          std::none_of(findings_.begin(), findings_.end(),
                       [](const ConfigFinding& f) { return f.code == FindingCode::kNotAFlowFile; });
      CheckKeys(*file_.top, KeyPlace::kTop, !flow_file);
    }
    if (file_.diagnostics) {
      CheckKeys(*file_.diagnostics, KeyPlace::kDiagnostics, false);
    }
    const std::vector<bool> kept = FlowsKept();
    for (size_t i = 0; i < file_.flows.size(); ++i) {
      CheckFlow(file_.flows[i], kept[i]);
    }
  }

 private:
  void Add(FindingSeverity severity, FindingCode code, const YAML::Mark& mark,
           const std::string& key, std::string message) {
    findings_.push_back(detail::MakeFinding(severity, code, mark, key, std::move(message)));
  }

  void Warn(FindingCode code, const YAML::Mark& mark, const std::string& key, std::string message) {
    Add(FindingSeverity::kWarning, code, mark, key, std::move(message));
  }

  void CheckKeys(const MappingKeys& keys, KeyPlace place, bool only_slips) {
    for (const detail::OtherKey& other : keys.others()) {
      if (other.text.empty()) {
        if (!only_slips) {
          Warn(FindingCode::kUnknownKey, other.mark, "",
               fmt::format("a key that is not text {} is ignored", Where(place)));
        }
        continue;
      }
      const auto nearest = NearestName(other.text, place);
      if (only_slips && !nearest) {
        continue;
      }
      std::string message =
          fmt::format("unknown key '{}' {}; it is ignored", other.text, Where(place));
      if (nearest) {
        message = fmt::format("unknown key '{}'; did you mean '{}'?", other.text, *nearest);
      } else {
        for (KeyPlace elsewhere : {KeyPlace::kFlow, KeyPlace::kPoint}) {
          if (elsewhere != place && FindFlowFileKey(elsewhere, other.text) != nullptr) {
            message = fmt::format("key '{}' belongs to {}, not to {}; it is ignored", other.text,
                                  Owner(elsewhere), Owner(place));
          }
        }
      }
      Warn(FindingCode::kUnknownKey, other.mark, other.text, std::move(message));
    }
    for (const FoundKey& found : keys.known()) {
      const FoundKey* read = keys.Find(*found.key);
      if (read != &found) {
        Warn(FindingCode::kNoEffect, found.key_mark, found.Name(),
             fmt::format("key '{}' is ignored: '{}' is given", found.Name(), read->Name()));
      } else if (found.spelling != 0 && found.key->other_spellings[found.spelling - 1].misspelt) {
        Warn(FindingCode::kOldSpelling, found.key_mark, found.Name(),
             fmt::format("key '{}' is a misspelling kept for old files; write '{}'", found.Name(),
                         found.key->name));
      }
      if (found.key->type == KeyType::kString && found.value.IsNull()) {
        Warn(FindingCode::kNoValue, found.key_mark, found.Name(),
             fmt::format("key '{}' has no value; it reads as the text 'null'", found.Name()));
      }
      if (found.key->topic && found.value.IsScalar() && !found.value.Scalar().empty()) {
        CheckTopic(found);
      }
    }
  }

  /// Per flow id the last entry that loads, which Init keeps; every earlier one
  /// is reported as a duplicate.
  std::vector<bool> FlowsKept() {
    std::vector<bool> kept(file_.flows.size(), false);
    std::unordered_map<std::string, size_t> last;
    const FlowFileKey& id_key = KeyAt(KeyPlace::kFlow, "flow_id");
    for (size_t i = 0; i < file_.flows.size(); ++i) {
      const ReadFlow& flow = file_.flows[i];
      const FoundKey* id = flow.keys.Find(id_key);
      if (!flow.flow || id == nullptr) {
        continue;
      }
      const std::string& flow_id = flow.flow->flow_id;
      auto earlier = last.find(flow_id);
      if (earlier != last.end()) {
        kept[earlier->second] = false;
        const FoundKey* earlier_id = file_.flows[earlier->second].keys.Find(id_key);
        Add(FindingSeverity::kError, FindingCode::kDuplicateFlowId, id->key_mark, id->Name(),
            fmt::format("flow id '{}' is already used by the flow at line {}; Init keeps only "
                        "the later one",
                        flow_id, earlier_id->key_mark.line + 1));
      }
      last[flow_id] = i;
      kept[i] = true;
    }
    return kept;
  }

  void CheckFlow(const ReadFlow& entry, bool kept) {
    const MappingKeys& keys = entry.keys;
    CheckKeys(keys, KeyPlace::kFlow, false);
    std::string flow_id;
    for (const FlowFileKey& key : FlowFileKeys()) {
      if (key.place != KeyPlace::kFlow) {
        continue;
      }
      const FoundKey* found = keys.Find(key);
      if (key.required && found == nullptr) {
        Add(FindingSeverity::kError, FindingCode::kMissingKey, keys.mark(), key.name,
            fmt::format("flow has no '{}'; Init loads it under the empty id, which cannot be "
                        "traced",
                        key.name));
      }
      if (found == nullptr || !found->value.IsScalar()) {
        continue;
      }
      const std::string& text = found->value.Scalar();
      if (key.non_empty && text.empty()) {
        Add(FindingSeverity::kError, FindingCode::kEmptyValue, found->value.Mark(), found->Name(),
            fmt::format("key '{0}' is empty; an empty {0} cannot be traced", found->Name()));
      }
      if (key.name == std::string_view("flow_id")) {
        flow_id = text;
      }
    }
    const bool heartbeat = flow_id == kHeartbeatFlowId;
    for (const FlowFileKey& key : FlowFileKeys()) {
      const FoundKey* found = key.place == KeyPlace::kFlow ? keys.Find(key) : nullptr;
      if (found == nullptr) {
        continue;
      }
      if (key.scope == KeyScope::kHeartbeatFlow && !heartbeat) {
        Warn(FindingCode::kNoEffect, found->key_mark, found->Name(),
             fmt::format("key '{}' is read only for the heartbeat flow; flow '{}' ignores it",
                         found->Name(), flow_id));
      } else if (key.scope == KeyScope::kOtherFlows && heartbeat) {
        Warn(FindingCode::kNoEffect, found->key_mark, found->Name(),
             fmt::format("key '{}' has no effect on the heartbeat flow", found->Name()));
      }
    }
    const FoundKey* points = keys.Find(KeyAt(KeyPlace::kFlow, "flow_points"));
    if (!heartbeat && points == nullptr) {
      Warn(FindingCode::kNoPoints, keys.mark(), "flow_points",
           fmt::format("flow '{}' has no 'flow_points'; it has no points to check", flow_id));
    } else if (!heartbeat && points->value.IsSequence() && points->value.size() == 0) {
      Warn(FindingCode::kNoPoints, points->key_mark, points->Name(),
           fmt::format("key 'flow_points' is empty; flow '{}' has no points to check", flow_id));
    }
    if (!entry.flow) {
      return;  // dropped: its points were not read
    }
    if (heartbeat) {
      CheckHeartbeatPoints(entry);
    }
    const TraceFlowCfg& flow = *entry.flow;
    if (!heartbeat && flow.budget_event_id != 0 &&
        (flow.budget_ms == 0 || flow.diag_topic.empty())) {
      const FoundKey* found = keys.Find(KeyAt(KeyPlace::kFlow, "budget_event_id"));
      Warn(FindingCode::kNoEffect, found->key_mark, found->Name(),
           fmt::format("key 'budget_event_id' has no effect: flow '{}' has {}", flow_id,
                       flow.budget_ms == 0 ? "no 'budget_ms'" : "no 'diag_topic'"));
    }
    for (const ReadPoint& point : entry.points) {
      CheckKeys(point.keys, KeyPlace::kPoint, false);
      if (point.point) {
        CheckPoint(point, flow, flow.check_order && !heartbeat, kept);
      }
    }
  }

  /// Init puts the built-in point first unless the file lists 'heartbeat'
  /// first; the built-in point holds the flow for good.
  void CheckHeartbeatPoints(const ReadFlow& entry) {
    const auto first = std::find_if(entry.points.begin(), entry.points.end(),
                                    [](const ReadPoint& point) { return point.point != nullptr; });
    if (first == entry.points.end() || first->point->point_id == kHeartbeatFlowId) {
      return;
    }
    Warn(FindingCode::kUnreachablePoint, first->keys.mark(), "point_id",
         fmt::format("point '{}' is never reached: Init puts its built-in point 'heartbeat' "
                     "first, which holds the heartbeat flow for good; list your own "
                     "'heartbeat' point first to configure the beat",
                     first->point->point_id));
  }

  void CheckTopic(const FoundKey& found) {
    const std::string topic = found.value.Scalar();
    const std::string problem = flow_tool::TopicNameProblem(topic);
    if (!problem.empty()) {
      Add(FindingSeverity::kError, FindingCode::kInvalidTopic, found.value.Mark(), found.Name(),
          fmt::format("key '{}': '{}' is not a valid ROS 2 topic name: {}", found.Name(), topic,
                      problem));
    }
  }

  const FoundKey* Written(const MappingKeys& keys, const char* name) {
    return keys.Find(KeyAt(KeyPlace::kPoint, name));
  }

  void CheckPoint(const ReadPoint& entry, const TraceFlowCfg& flow, bool repeats_bind,
                  bool flow_kept) {
    const TracePointCfg& point = *entry.point;
    const MappingKeys& keys = entry.keys;
    const std::string& id = point.point_id;
    if (point.event_id == 0) {
      for (const auto& [name, value] : {std::make_pair("on_success", point.on_success),
                                        std::make_pair("on_failure", point.on_failure),
                                        std::make_pair("on_timeout", point.on_timeout)}) {
        const FoundKey* found = Written(keys, name);
        if (found != nullptr && value) {
          Warn(FindingCode::kNoEffect, found->key_mark, found->Name(),
               fmt::format("key '{}' is true but point '{}' has event_id 0; nothing is published",
                           found->Name(), id));
        }
      }
    }

    if (point.timeout_ms != 0) {
      std::string why;
      if (!flow.check_order) {
        why =
            fmt::format("flow '{}' is unordered, and only ordered flows time points", flow.flow_id);
      } else if (point.repeat_cnt == 0) {
        why =
            fmt::format("only repeated points (repeat_cnt above 0) are timed, and '{}' is not", id);
      } else if (!point.on_timeout) {
        why = fmt::format("a late '{}' is published only with 'on_timeout: true'", id);
      }
      if (!why.empty()) {
        const FoundKey* found = Written(keys, "timeout_ms");
        Warn(FindingCode::kNoEffect, found->key_mark, found->Name(),
             "key 'timeout_ms' has no effect: " + why);
      }
    } else if (point.on_timeout) {
      const FoundKey* found = Written(keys, "on_timeout");
      Warn(FindingCode::kNoEffect, found->key_mark, found->Name(),
           fmt::format("key 'on_timeout' has no effect: point '{}' has no 'timeout_ms'", id));
    }

    if (repeats_bind && point.repeat_max != 0 && point.repeat_cnt > point.repeat_max) {
      const FoundKey* found = Written(keys, "repeat_max");
      Warn(FindingCode::kNoEffect, found->key_mark, found->Name(),
           fmt::format("repeat_max {} is below repeat_cnt {}: the count of point '{}' can never "
                       "complete, so only the next listed point moves flow '{}' on (as its last "
                       "point, it holds the flow for good)",
                       point.repeat_max, point.repeat_cnt, id, flow.flow_id));
    }

    const FoundKey* event = Written(keys, "event_id");
    if (flow_kept && point.event_id != 0 && event != nullptr) {
      auto& uses = event_ids_[flow.diag_topic];
      auto earlier = uses.find(point.event_id);
      if (earlier == uses.end()) {
        uses.emplace(point.event_id, EventIdUse{flow.flow_id, id, event->key_mark.line + 1});
      } else {
        Warn(FindingCode::kDuplicateEventId, event->key_mark, event->Name(),
             fmt::format("event id {} is already used by point '{}' of flow '{}' (line {}) on "
                         "topic '{}'; their events cannot be told apart",
                         point.event_id, earlier->second.point_id, earlier->second.flow_id,
                         earlier->second.line, flow.diag_topic));
      }
    }
  }

  const ReadFile& file_;
  std::vector<ConfigFinding>& findings_;
  /// topic -> event id -> first point using it, over the flows Init keeps.
  std::unordered_map<std::string, std::unordered_map<uint32_t, EventIdUse>> event_ids_;
};

}  // namespace

std::vector<ConfigFinding> LintFlowConfig(const std::string& text) {
  const ReadFile file = detail::ReadFlowConfigText(text);
  std::vector<ConfigFinding> findings = file.parsed.findings;
  Linter(file, findings).Run();
  std::stable_sort(
      findings.begin(), findings.end(), [](const ConfigFinding& a, const ConfigFinding& b) {
        return std::tie(a.line, a.column, a.severity) < std::tie(b.line, b.column, b.severity);
      });
  return findings;
}

std::vector<ConfigFinding> LintFlowConfigFile(const std::string& path) {
  FlowConfigText file = ReadFlowConfigFile(path);
  if (file.error) {
    return {std::move(*file.error)};
  }
  return LintFlowConfig(file.text);
}

}  // namespace trace
}  // namespace kestrune
