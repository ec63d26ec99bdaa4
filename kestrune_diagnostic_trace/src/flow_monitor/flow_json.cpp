#include "flow_json.hpp"

#include <nlohmann/json.hpp>

#include "kestrune_diagnostic_trace/flow_report.hpp"

namespace kestrune {
namespace monitor {

namespace {

using nlohmann::json;

const char* OutcomeWord(PointOutcome outcome) {
  switch (outcome) {
    case PointOutcome::kOk:
      return "ok";
    case PointOutcome::kTimeout:
      return "timeout";
    case PointOutcome::kFailed:
      return "failed";
    case PointOutcome::kMissing:
      return "missing";
    case PointOutcome::kNone:
      break;
  }
  return "none";
}

json Optional(const std::optional<double>& value) {
  return value ? json(*value) : json(nullptr);
}

/// A value's text, or nothing when the status has no such key.
const std::string* Find(const FlowView& flow, const char* key) {
  for (const auto& entry : flow.values) {
    if (entry.first == key) {
      return &entry.second;
    }
  }
  return nullptr;
}

json SecondsOf(const FlowView& flow, const char* key) {
  const std::string* text = Find(flow, key);
  return Optional(text ? trace::report::ParseSecondsValue(*text) : std::nullopt);
}

/// What the run chart draws besides the runs: the budget and median lines, and
/// the step that grew most.
json ChartJson(const FlowView& flow) {
  const std::string* slowest = Find(flow, trace::report::kSlowestGrowingStep);
  return {{"budget_s", SecondsOf(flow, trace::report::kBudget)},
          {"median_s", SecondsOf(flow, trace::report::kMedianDuration)},
          {"slowest_step", slowest ? *slowest : ""}};
}

json FlowJson(const FlowView& flow) {
  json values = json::object();
  for (const auto& entry : flow.values) {
    values[entry.first] = entry.second;
  }
  json points = json::array();
  for (const PointView& point : flow.points) {
    points.push_back({{"point_id", point.point_id},
                      {"critical", point.critical},
                      {"event_id", point.event_id},
                      {"outcome", OutcomeWord(point.outcome)},
                      {"expected", point.expected}});
  }
  json events = json::array();
  for (const EventView& event : flow.events) {
    const bool verdict = event.kind == static_cast<uint8_t>(trace::report::EventKind::kVerdict);
    events.push_back({{"stamp", event.stamp_sec + event.stamp_nanosec * 1e-9},
                      {"id", event.id},
                      {"status", event.status},
                      {"kind", trace::report::EventKindWord(event.kind)},
                      {"verdict", verdict ? trace::report::VerdictName(event.verdict) : ""},
                      {"duration_ms", event.duration_ms},
                      {"point_id", event.point_id},
                      {"msg", event.msg}});
  }
  json runs = json::array();
  for (const RunView& run : flow.runs) {
    runs.push_back({{"passed", run.passed},
                    {"verdict", run.verdict},
                    {"duration_s", Optional(run.duration_s)}});
  }
  return {{"flow_id", flow.flow_id},
          {"node", flow.node},
          {"name", flow.name},
          {"flow_name", flow.flow_name},
          {"hardware_id", flow.hardware_id},
          {"level", flow.level},
          {"message", flow.message},
          {"age_s", Optional(flow.age_s)},
          {"values", std::move(values)},
          {"configured", flow.configured},
          {"points", std::move(points)},
          {"events", std::move(events)},
          {"runs", std::move(runs)},
          {"chart", ChartJson(flow)},
          {"version", flow.version}};
}

}  // namespace

std::string FlowsJson(const std::vector<FlowView>& flows, uint64_t version, bool full,
                      const ModelSummary& summary) {
  json body = {{"version", version},
               {"full", full},
               {"left_out", summary.left_out},
               {"left_out_rule", summary.left_out_rule},
               {"flows", json::array()}};
  for (const FlowView& flow : flows) {
    body["flows"].push_back(FlowJson(flow));
  }
  return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace monitor
}  // namespace kestrune
