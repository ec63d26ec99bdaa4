// A configuration written back as YAML, key by key from the format's table.
#include "flow_show.hpp"

#include <stdexcept>
#include <type_traits>

#include <yaml-cpp/yaml.h>

#include "flow_config_reader.hpp"
#include "kestrune_diagnostic_trace/flow_format.hpp"

namespace kestrune {
namespace flow_tool {

namespace {

using trace::FieldValue;
using trace::FlowFileKey;
using trace::KeyPlace;
using trace::KeyType;
using Records = trace::detail::KeyRecords<true>;

/// Whether `key` is written for the flow (all keys outside flows are). A key
/// that acts on no such flow is left out, unless set: the output must load the same.
bool Written(const FlowFileKey& key, const trace::TraceFlowCfg* flow, const FieldValue& value) {
  return flow == nullptr || trace::detail::ActsOn(key, *flow) ||
         (key.scope == trace::KeyScope::kOtherFlows && value != key.default_value);
}

/// The value keys of `place`, in table order; the sequences and sections are the caller's.
void EmitKeys(KeyPlace place, const Records& records, YAML::Emitter& out) {
  for (const FlowFileKey& key : trace::FlowFileKeys()) {
    if (key.place != place) {
      continue;
    }
    const auto value = trace::detail::ValueOf(key, records);
    if (!value || !Written(key, records.flow, *value) ||
        (key.default_words != nullptr && *value == key.default_value)) {
      continue;
    }
    out << YAML::Key << key.name << YAML::Value;
    std::visit([&out](const auto& v) { out << v; }, *value);
  }
}

}  // namespace

std::string ShowFlowConfig(const trace::ParsedFlowConfig& parsed) {
  YAML::Emitter out;
  out << YAML::BeginMap;
  const Records file{&parsed, nullptr, nullptr};
  for (const FlowFileKey& key : trace::FlowFileKeys()) {
    if (key.place != KeyPlace::kTop) {
      continue;
    }
    if (key.type == KeyType::kFlows) {
      out << YAML::Key << key.name << YAML::Value << YAML::BeginSeq;
      for (const auto& flow : trace::LoadedFlows(parsed)) {
        out << YAML::BeginMap;
        const Records flow_records{&parsed, flow.get(), nullptr};
        EmitKeys(KeyPlace::kFlow, flow_records, out);
        for (const FlowFileKey& points_key : trace::FlowFileKeys()) {
          if (points_key.place == KeyPlace::kFlow && points_key.type == KeyType::kPoints) {
            out << YAML::Key << points_key.name << YAML::Value << YAML::BeginSeq;
            for (const auto& point : flow->flow_points) {
              out << YAML::BeginMap;
              EmitKeys(KeyPlace::kPoint, {&parsed, flow.get(), point.get()}, out);
              out << YAML::EndMap;
            }
            out << YAML::EndSeq;
          }
        }
        out << YAML::EndMap;
      }
      out << YAML::EndSeq;
    } else if (key.type == KeyType::kSection) {
      out << YAML::Key << key.name << YAML::Value << YAML::BeginMap;
      EmitKeys(KeyPlace::kDiagnostics, file, out);
      out << YAML::EndMap;
    }
  }
  EmitKeys(KeyPlace::kTop, file, out);
  out << YAML::EndMap;
  if (!out.good()) {
    throw std::runtime_error("cannot write the configuration as YAML: " + out.GetLastError());
  }
  return std::string(out.c_str()) + "\n";
}

}  // namespace flow_tool
}  // namespace kestrune
