#include "kestrune_diagnostic_trace/flow_trace.hpp"

#include <fstream>
#include <ios>
#include <iterator>
#include <utility>

#include <yaml-cpp/depthguard.h>
#include <yaml-cpp/yaml.h>

#include "engine_lock.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace trace {

namespace {

const char kHeartbeatFlowId[] = "heartbeat";

/// The text of the configuration file, read here rather than by YAML::LoadFile:
/// a file that opens but cannot be read (a directory, an I/O error) makes the
/// stream throw std::ios_base::failure, which yaml-cpp lets out and leaks its
/// buffer on.
std::string ReadConfigFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    throw YAML::BadFile(path);
  }
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

}  // namespace

FlowTrace* FlowTrace::GetInstance() {
  static FlowTrace instance;
  return &instance;
}

void FlowTrace::Init(const std::string& config_path, std::shared_ptr<rclcpp::Node> node) {
  if (detail::EngineLock::HeldByThisThread()) {
    detail::EngineLock::ReportReentry("Init");
    return;
  }
  {
    detail::EngineLock lock(mutex_, "Init");
    node_ = std::move(node);
    flow_queues_.clear();
    flow_cfgs_.clear();
    flow_entries_.clear();
    publishers_.clear();
  }

  try {
    const YAML::Node root = YAML::Load(ReadConfigFile(config_path));
    const YAML::Node workflows = root["workflows"];
    if (!workflows || workflows.IsNull()) {
      KLOG_ERROR("No workflows configuration found");
      return;
    }
    if (!workflows.IsSequence()) {
      KLOG_ERROR("workflows should be a sequence");
      return;
    }
    for (const YAML::Node& entry : workflows) {
      std::shared_ptr<TraceFlowCfg> flow_cfg = parseTraceFlowCfg(entry);
      if (!flow_cfg) {
        continue;
      }
      detail::EngineLock lock(mutex_, "Init");
      const std::string flow_id = flow_cfg->flow_id;
      flow_queues_[flow_id] = FlowQueue();
      flow_cfgs_[flow_id] = std::move(flow_cfg);
      flow_entries_[flow_id] = {&flow_queues_[flow_id], &flow_cfgs_[flow_id]};
    }
  } catch (const YAML::DeepRecursion& e) {
    // yaml-cpp stops at its nesting limit but words it as "bad file".
    KLOG_ERROR("Failed to parse flow configuration file: {}",
               fmt::format("yaml-cpp: error at line {}, column {}: nesting too deep",
                           e.mark.line + 1, e.mark.column + 1));
    return;
  } catch (const YAML::Exception& e) {
    KLOG_ERROR("Failed to parse flow configuration file: {}", e.what());
    return;
  } catch (const std::ios_base::failure& e) {
    KLOG_ERROR("Failed to parse flow configuration file: {}", e.what());
    return;
  }

  {
    detail::EngineLock lock(mutex_, "Init");
    auto heartbeat = flow_cfgs_.find(kHeartbeatFlowId);
    if (heartbeat == flow_cfgs_.end()) {
      return;
    }
    auto& points = heartbeat->second->flow_points;
    if (points.empty() || points.front()->point_id != kHeartbeatFlowId) {
      // The heartbeat flow always starts with its own point; repeat_max below
      // repeat_cnt keeps the ordered flow on it for good.
      auto point = std::make_shared<TracePointCfg>(kHeartbeatFlowId);
      point->on_success = true;
      point->repeat_cnt = 100;
      point->repeat_max = 10;
      points.push_front(std::move(point));
    }
  }
  KLOG_INFO("heartbeat duration: {}, heartbeat run: {}", heartbeat_duration_.load(),
            heartbeat_running_.load());
  startHeartbeat();
}

void FlowTrace::Init(const std::string& config_path, PublishCallback& publish_callback) {
  if (detail::EngineLock::HeldByThisThread()) {
    detail::EngineLock::ReportReentry("Init");
    return;
  }
  {
    detail::EngineLock lock(mutex_, "Init");
    publish_callback_ = publish_callback;
  }
  Init(config_path, std::shared_ptr<rclcpp::Node>());
}

void FlowTrace::RegisterTraceFlow(std::shared_ptr<TraceFlowCfg> flow_cfg) {
  if (!flow_cfg || flow_cfg->flow_id.empty()) {
    KLOG_ERROR("Invalid flow configuration: flow_id is empty");
    return;
  }
  const std::string flow_id = flow_cfg->flow_id;
  const std::string flow_name = flow_cfg->flow_name;
  const size_t points_count = flow_cfg->flow_points.size();
  {
    detail::EngineLock lock(mutex_, "RegisterTraceFlow");
    if (!lock) {
      return;
    }
    if (flow_cfgs_.count(flow_id) != 0) {
      KLOG_WARN("Flow with ID '{}' already registered, overwriting", flow_id);
    }
    flow_cfgs_[flow_id] = std::move(flow_cfg);
    flow_queues_[flow_id] = FlowQueue();
    flow_entries_[flow_id] = {&flow_queues_[flow_id], &flow_cfgs_[flow_id]};
  }
  KLOG_INFO("Registered trace flow: flow_id={}, flow_name={}, points_count={}", flow_id, flow_name,
            points_count);
}

void FlowTrace::RegisterTraceFlow(const std::string& flow_id,
                                  std::vector<std::shared_ptr<TracePointCfg>>& points,
                                  const std::string& flow_name, const std::string& description,
                                  bool check_order) {
  if (flow_id.empty()) {
    KLOG_ERROR("Invalid flow_id: cannot be empty");
    return;
  }
  auto flow_cfg = std::make_shared<TraceFlowCfg>();
  flow_cfg->flow_id = flow_id;
  flow_cfg->flow_name = flow_name;
  flow_cfg->description = description;
  flow_cfg->check_order = check_order;
  flow_cfg->flow_points.assign(points.begin(), points.end());
  RegisterTraceFlow(std::move(flow_cfg));
}

void FlowTrace::RemoveTraceFlow(const std::string& flow_id) {
  if (flow_id.empty()) {
    KLOG_ERROR("Invalid flow_id: cannot be empty");
    return;
  }
  detail::EngineLock lock(mutex_, "RemoveTraceFlow");
  if (!lock) {
    return;
  }
  flow_entries_.erase(flow_id);
  if (flow_queues_.erase(flow_id) != 0) {
    KLOG_INFO("Removed flow queue for flow_id: {}", flow_id);
  } else {
    KLOG_WARN("Flow queue not found for flow_id: {}", flow_id);
  }
  if (flow_cfgs_.erase(flow_id) != 0) {
    KLOG_INFO("Removed flow configuration for flow_id: {}", flow_id);
  } else {
    KLOG_WARN("Flow configuration not found for flow_id: {}", flow_id);
  }
}

void FlowTrace::RegisterFlowHandler(const std::string& flow_id, FlowHandler handler) {
  if (flow_id.empty()) {
    KLOG_ERROR("Invalid flow_id: cannot be empty");
    return;
  }
  detail::EngineLock lock(mutex_, "RegisterFlowHandler");
  if (!lock) {
    return;
  }
  if (flow_handlers_.count(flow_id) != 0) {
    KLOG_WARN("Handler for flow_id '{}' already exists, overwriting", flow_id);
  }
  flow_handlers_[flow_id] = std::move(handler);
  KLOG_INFO("Successfully registered handler for flow_id: {}", flow_id);
}

std::set<std::string> FlowTrace::GetTraceFlows() {
  std::set<std::string> flow_ids;
  detail::EngineLock lock(mutex_, "GetTraceFlows");
  if (!lock) {
    return flow_ids;
  }
  for (const auto& entry : flow_cfgs_) {
    flow_ids.insert(entry.first);
  }
  return flow_ids;
}

std::shared_ptr<TraceFlowCfg> FlowTrace::GetTraceFlowCfg(const std::string& flow_id) {
  detail::EngineLock lock(mutex_, "GetTraceFlowCfg");
  if (!lock) {
    return nullptr;
  }
  auto it = flow_cfgs_.find(flow_id);
  return it == flow_cfgs_.end() ? nullptr : it->second;
}

void FlowTrace::publishEvent(const TraceFlowCfg& flow, const DiagnosticEvent& event) {
  if (flow.publisher) {
    flow.publisher->publish(event);
  } else if (publish_callback_) {
    publish_callback_(flow.diag_topic, event);
  }
}

}  // namespace trace
}  // namespace kestrune
