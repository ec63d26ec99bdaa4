// Flows written back as YAML with every key, the way the engine holds them.
#include "flow_show.hpp"

#include <yaml-cpp/yaml.h>

namespace kestrune {
namespace flow_tool {

namespace {

void EmitPoint(const trace::TracePointCfg& point, YAML::Emitter& out) {
  out << YAML::BeginMap;
  out << YAML::Key << "point_id" << YAML::Value << point.point_id;
  out << YAML::Key << "point_desc" << YAML::Value << point.description;
  out << YAML::Key << "optional" << YAML::Value << !point.is_critical;
  out << YAML::Key << "event_id" << YAML::Value << point.event_id;
  out << YAML::Key << "on_success" << YAML::Value << point.on_success;
  out << YAML::Key << "on_failure" << YAML::Value << point.on_failure;
  out << YAML::Key << "on_timeout" << YAML::Value << point.on_timeout;
  out << YAML::Key << "repeat_cnt" << YAML::Value << point.repeat_cnt;
  out << YAML::Key << "repeat_max" << YAML::Value << point.repeat_max;
  out << YAML::Key << "timeout_ms" << YAML::Value << point.timeout_ms;
  out << YAML::Key << "freq_min" << YAML::Value << point.freq_min;
  out << YAML::EndMap;
}

}  // namespace

std::string ShowFlows(const std::vector<std::shared_ptr<trace::TraceFlowCfg>>& flows,
                      uint32_t heartbeat_period_ms) {
  YAML::Emitter out;
  out << YAML::BeginMap << YAML::Key << "workflows" << YAML::Value << YAML::BeginSeq;
  for (const auto& flow : flows) {
    out << YAML::BeginMap;
    out << YAML::Key << "flow_id" << YAML::Value << flow->flow_id;
    out << YAML::Key << "flow_name" << YAML::Value << flow->flow_name;
    out << YAML::Key << "diag_topic" << YAML::Value << flow->diag_topic;
    out << YAML::Key << "description" << YAML::Value << flow->description;
    out << YAML::Key << "check_order" << YAML::Value << flow->check_order;
    out << YAML::Key << "event_id" << YAML::Value << flow->event_id;
    if (flow->flow_id == "heartbeat") {
      out << YAML::Key << "duration_ms" << YAML::Value << heartbeat_period_ms;
    }
    out << YAML::Key << "remote" << YAML::Value << flow->remote;
    out << YAML::Key << "check_at_end" << YAML::Value << flow->check_at_end;
    out << YAML::Key << "flow_points" << YAML::Value << YAML::BeginSeq;
    for (const auto& point : flow->flow_points) {
      EmitPoint(*point, out);
    }
    out << YAML::EndSeq << YAML::EndMap;
  }
  out << YAML::EndSeq << YAML::EndMap;
  return std::string(out.c_str()) + "\n";
}

}  // namespace flow_tool
}  // namespace kestrune
