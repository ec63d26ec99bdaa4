// Reading flow and point configurations from their YAML entries.
#include <cstdint>
#include <limits>
#include <utility>

#include <yaml-cpp/yaml.h>

#include "engine_lock.hpp"
#include "kestrune_diagnostic_trace/flow_trace.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace trace {

namespace {

constexpr size_t kDiagnosticQueueDepth = 1;

/// Sets `field` from `key` when the key is present; conversion errors throw
/// (yaml-cpp 0.7 refuses a negative number for an unsigned field).
template <typename T>
void ReadIfPresent(const YAML::Node& node, const char* key, T& field) {
  const YAML::Node value = node[key];
  if (value) {
    field = value.as<T>();
  }
}

/// The event id comes from the first present key of event_id, failure_id, faliure_id.
/// Events carry it in a signed 32-bit field, so an id above its range is refused
/// like a negative one rather than published wrapped.
void ReadEventId(const YAML::Node& node, uint32_t& event_id) {
  for (const char* key : {"event_id", "failure_id", "faliure_id"}) {
    const YAML::Node value = node[key];
    if (value) {
      const auto id = value.as<uint32_t>();
      if (id > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
        throw YAML::RepresentationException(
            value.Mark(), fmt::format("{} {} is out of range, the largest event id is {}", key,
                                      value.Scalar(), std::numeric_limits<int32_t>::max()));
      }
      event_id = id;
      return;
    }
  }
}

}  // namespace

std::shared_ptr<TracePointCfg> FlowTrace::parseTracePointCfg(const YAML::Node& node) {
  auto point = std::make_shared<TracePointCfg>();
  try {
    if (!node["point_id"]) {
      KLOG_ERROR("point_id parse failed, point config invalid");
      return nullptr;
    }
    ReadIfPresent(node, "point_id", point->point_id);
    ReadEventId(node, point->event_id);
    ReadIfPresent(node, "on_success", point->on_success);
    ReadIfPresent(node, "on_failure", point->on_failure);
    ReadIfPresent(node, "on_timeout", point->on_timeout);
    ReadIfPresent(node, "repeat_cnt", point->repeat_cnt);
    ReadIfPresent(node, "repeat_max", point->repeat_max);
    ReadIfPresent(node, "timeout_ms", point->timeout_ms);
    ReadIfPresent(node, "freq_min", point->freq_min);
    if (node["point_desc"]) {
      ReadIfPresent(node, "point_desc", point->description);
    } else {
      ReadIfPresent(node, "description", point->description);
    }
    bool optional = false;
    ReadIfPresent(node, "optional", optional);
    point->is_critical = !optional;
  } catch (const YAML::Exception& e) {
    KLOG_ERROR("Failed to parse trace point config: {}", e.what());
    return nullptr;
  }
  KLOG_INFO("Parsed trace point config: point_id={}, description={}, is_critical={}",
            point->point_id, point->description, point->is_critical);
  return point;
}

std::shared_ptr<TraceFlowCfg> FlowTrace::parseTraceFlowCfg(const YAML::Node& node) {
  auto flow = std::make_shared<TraceFlowCfg>();
  try {
    // A list or an empty entry has no keys to look up and would load silently as
    // an unnamed flow without points. Scalars already fail on the first lookup.
    if (!node.IsMap() && !node.IsScalar()) {
      throw YAML::Exception(node.Mark(), "flow entry is not a mapping");
    }
    ReadIfPresent(node, "flow_id", flow->flow_id);
    ReadIfPresent(node, "flow_name", flow->flow_name);
    if (node["diag_topic"]) {
      ReadIfPresent(node, "diag_topic", flow->diag_topic);
      std::shared_ptr<rclcpp::Node> ros_node;
      std::shared_ptr<DiagnosticPublisher> publisher;
      {
        detail::EngineLock lock(mutex_, "parseTraceFlowCfg");
        ros_node = node_;
        auto it = publishers_.find(flow->diag_topic);
        if (it != publishers_.end()) {
          publisher = it->second;
        }
      }
      if (ros_node && !flow->diag_topic.empty()) {
        if (!publisher) {
          // Created outside the lock: it calls into ROS 2 and may throw for a bad topic name.
          auto created = ros_node->create_publisher<DiagnosticEvent>(
              flow->diag_topic, rclcpp::QoS(kDiagnosticQueueDepth));
          detail::EngineLock lock(mutex_, "parseTraceFlowCfg");
          publisher = publishers_.emplace(flow->diag_topic, std::move(created)).first->second;
        }
        flow->publisher = std::move(publisher);
      }
    }
    ReadIfPresent(node, "description", flow->description);
    flow->check_order = true;
    ReadIfPresent(node, "check_order", flow->check_order);
    ReadEventId(node, flow->event_id);
    if (flow->flow_id == "heartbeat") {
      uint32_t duration_ms = 0;
      ReadIfPresent(node, "duration_ms", duration_ms);
      heartbeat_duration_ = duration_ms;
    }
    const YAML::Node points = node["flow_points"];
    if (points && points.IsSequence()) {
      for (const YAML::Node& entry : points) {
        if (auto point = parseTracePointCfg(entry)) {
          flow->flow_points.push_back(std::move(point));
        }
      }
    }
  } catch (const YAML::Exception& e) {
    KLOG_ERROR("Failed to parse trace flow config: {}", e.what());
    return nullptr;
  }
  KLOG_DEBUG("Parsed trace flow config: flow_id={}, flow_name={}, check_order={}, points_count={}",
             flow->flow_id, flow->flow_name, flow->check_order, flow->flow_points.size());
  return flow;
}

}  // namespace trace
}  // namespace kestrune
