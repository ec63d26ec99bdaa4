#ifndef SUPPORT__SAME_CONFIG_HPP_
#define SUPPORT__SAME_CONFIG_HPP_

#include <cmath>
#include <string>

#include <kestrune_diagnostic_trace/flow_config.hpp>
#include <kestrune_diagnostic_trace/flow_format.hpp>

#include "flow_config_reader.hpp"

namespace kestrune_test {

/// Where the configurations `a` and `b` load differently, by every value of the
/// format's table (NaN equal to NaN); empty when they load the same.
inline std::string ConfigDifference(const kestrune::trace::ParsedFlowConfig& a,
                                    const kestrune::trace::ParsedFlowConfig& b) {
  using kestrune::trace::FieldValue;
  using kestrune::trace::KeyPlace;
  using Records = kestrune::trace::detail::KeyRecords<true>;
  auto same = [](const FieldValue& x, const FieldValue& y) {
    const float* fx = std::get_if<float>(&x);
    const float* fy = std::get_if<float>(&y);
    return (fx != nullptr && fy != nullptr && std::isnan(*fx) && std::isnan(*fy)) || x == y;
  };
  auto differs = [&](KeyPlace place, const Records& ra, const Records& rb) -> std::string {
    for (const auto& key : kestrune::trace::FlowFileKeys()) {
      const auto va = key.place == place ? kestrune::trace::detail::ValueOf(key, ra) : std::nullopt;
      if (va && !same(*va, *kestrune::trace::detail::ValueOf(key, rb))) {
        return key.name;
      }
    }
    return "";
  };
  std::string key = differs(KeyPlace::kTop, {&a}, {&b});
  if (!key.empty()) {
    return key;
  }
  key = differs(KeyPlace::kDiagnostics, {&a}, {&b});
  if (!key.empty()) {
    return "diagnostics: " + key;
  }
  const auto flows_a = kestrune::trace::LoadedFlows(a);
  const auto flows_b = kestrune::trace::LoadedFlows(b);
  if (flows_a.size() != flows_b.size()) {
    return "the number of flows";
  }
  for (size_t f = 0; f < flows_a.size(); ++f) {
    const auto& flow_a = *flows_a[f];
    const auto& flow_b = *flows_b[f];
    const std::string at = "flow " + std::to_string(f) + " (" + flow_a.flow_id + "): ";
    // The file's own keys, such as the heartbeat's period, only where they act.
    const bool heartbeat = flow_a.flow_id == kestrune::trace::kHeartbeatFlowId;
    key = differs(KeyPlace::kFlow, {heartbeat ? &a : nullptr, &flow_a},
                  {heartbeat ? &b : nullptr, &flow_b});
    if (!key.empty()) {
      return at + key;
    }
    if (flow_a.flow_points.size() != flow_b.flow_points.size()) {
      return at + "the number of points";
    }
    for (size_t p = 0; p < flow_a.flow_points.size(); ++p) {
      key = differs(KeyPlace::kPoint, {nullptr, nullptr, flow_a.flow_points[p].get()},
                    {nullptr, nullptr, flow_b.flow_points[p].get()});
      if (!key.empty()) {
        return at + "point " + std::to_string(p) + ": " + key;
      }
    }
  }
  return "";
}

}  // namespace kestrune_test

#endif  // SUPPORT__SAME_CONFIG_HPP_
