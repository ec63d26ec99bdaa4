#include "flow_json.hpp"

#include <nlohmann/json.hpp>

namespace kestrune {
namespace monitor {

namespace {

using nlohmann::json;

const char* OutcomeWord(PointOutcome outcome) {
  switch (outcome) {
    case PointOutcome::kOk:
      return "ok";
    case PointOutcome::kFailed:
      return "failed";
    case PointOutcome::kNone:
      break;
  }
  return "none";
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
                      {"outcome", OutcomeWord(point.outcome)}});
  }
  json events = json::array();
  for (const EventView& event : flow.events) {
    events.push_back({{"stamp", event.stamp_sec + event.stamp_nanosec * 1e-9},
                      {"id", event.id},
                      {"status", event.status},
                      {"point_id", event.point_id},
                      {"msg", event.msg}});
  }
  json runs = json::array();
  for (const RunView& run : flow.runs) {
    runs.push_back({{"passed", run.passed},
                    {"verdict", run.verdict},
                    {"duration_s", run.duration_s ? json(*run.duration_s) : json(nullptr)}});
  }
  return {{"flow_id", flow.flow_id},     {"node", flow.node},
          {"name", flow.name},           {"hardware_id", flow.hardware_id},
          {"level", flow.level},         {"message", flow.message},
          {"values", std::move(values)}, {"configured", flow.configured},
          {"points", std::move(points)}, {"events", std::move(events)},
          {"runs", std::move(runs)},     {"version", flow.version}};
}

}  // namespace

std::string FlowsJson(const std::vector<FlowView>& flows, uint64_t version, bool full) {
  json body = {{"version", version}, {"full", full}, {"flows", json::array()}};
  for (const FlowView& flow : flows) {
    body["flows"].push_back(FlowJson(flow));
  }
  return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace monitor
}  // namespace kestrune
