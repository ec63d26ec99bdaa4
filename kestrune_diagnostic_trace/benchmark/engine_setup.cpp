#include "engine_setup.hpp"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

#include <rclcpp/clock.hpp>

namespace kestrune {
namespace bench {

namespace {

constexpr size_t kPointsPerRun = 8;

std::string FlowYaml(const std::string& flow_id, const std::string& extra_keys, bool with_events) {
  std::string yaml = "  - flow_id: " + flow_id + "\n" + extra_keys + "    flow_points:\n";
  const auto& points = EngineSetup::PointIds();
  for (size_t i = 0; i < points.size(); ++i) {
    yaml += "      - {point_id: " + points[i];
    if (with_events) {
      yaml += ", event_id: " + std::to_string(i + 1) + ", on_success: true";
    }
    yaml += "}\n";
  }
  return yaml;
}

/// The configuration file, removed again once the engine has read it.
class ConfigFile {
 public:
  explicit ConfigFile(const std::string& text) {
    std::string pattern = "/tmp/kestrune_bench_XXXXXX.yaml";
    const int fd = mkstemps(pattern.data(), 5);
    if (fd < 0) {
      throw std::runtime_error("cannot create " + pattern);
    }
    close(fd);
    path_ = pattern;
    std::ofstream(path_) << text;
  }
  ~ConfigFile() { std::remove(path_.c_str()); }
  ConfigFile(const ConfigFile&) = delete;
  ConfigFile& operator=(const ConfigFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

EngineSetup::EngineSetup(std::shared_ptr<rclcpp::Node> node)
    : engine_(trace::FlowTrace::GetInstance()), node_(std::move(node)) {
  std::string yaml = "workflows:\n";
  yaml += FlowYaml(kPlainFlow, "", false);
  yaml += FlowYaml(kCallbackFlow, "", true);
  yaml += FlowYaml(kNodeFlow, "    diag_topic: /kestrune_bench/events\n", true);
  yaml += FlowYaml(kSharedFlow, "    check_order: false\n", false);
  flow_ids_ = {kPlainFlow, kCallbackFlow, kNodeFlow, kSharedFlow};
  for (size_t i = 0; i < kThreadFlows; ++i) {
    yaml += FlowYaml(ThreadFlow(i), "", false);
    flow_ids_.push_back(ThreadFlow(i));
  }
  yaml_ = yaml;
  load(yaml_);
}

void EngineSetup::load(const std::string& yaml) {
  const ConfigFile config(yaml);
  trace::PublishCallback ignore = [](const std::string&, const trace::DiagnosticEvent&) {
    return true;
  };
  engine_->Init(config.path(), ignore);
  if (node_) {
    // The callback stays; the second load gives the flow with a topic its publisher.
    engine_->Init(config.path(), node_);
  }
}

void EngineSetup::SetDiagnostics(bool enabled) {
  load(enabled ? "diagnostics: {enabled: true, period_ms: 100}\n" + yaml_ : yaml_);
  if (with_check_flows_) {
    flow_ids_.resize(flow_ids_.size() - std::size(kCheckFlowSizes));
    AddCheckFlows();
  }
}

const std::vector<std::string>& EngineSetup::PointIds() {
  static const std::vector<std::string> ids = [] {
    std::vector<std::string> points;
    for (size_t i = 0; i < kPointsPerRun; ++i) {
      points.push_back("step_" + std::to_string(i) + "_reached");
    }
    return points;
  }();
  return ids;
}

std::string EngineSetup::ThreadFlow(size_t index) {
  return "bench_thread_" + std::to_string(index);
}

std::string EngineSetup::CheckFlowId(size_t points) {
  return "bench_check_" + std::to_string(points);
}

trace::DiagnosticEvent EngineSetup::NodeFlowEvent() {
  trace::DiagnosticEvent event;
  event.stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
  event.source_id = kNodeFlow;
  event.id = 4;
  event.status = 0;
  event.msg = "Status OK: " + PointIds()[3];
  return event;
}

void EngineSetup::AddCheckFlows() {
  with_check_flows_ = true;
  for (const size_t points : kCheckFlowSizes) {
    addCheckFlow(points);
  }
}

void EngineSetup::addCheckFlow(size_t points) {
  const std::string flow_id = CheckFlowId(points);
  auto flow = std::make_shared<trace::TraceFlowCfg>();
  flow->flow_id = flow_id;
  std::vector<std::string> point_ids;
  for (size_t i = 0; i < points; ++i) {
    point_ids.push_back("point_" + std::to_string(i));
    auto point = std::make_shared<trace::TracePointCfg>(point_ids.back());
    point->is_critical = true;
    flow->flow_points.push_back(std::move(point));
  }
  engine_->RegisterTraceFlow(std::move(flow));
  for (const auto& point_id : point_ids) {
    engine_->Trace(flow_id, point_id, true);
  }
  flow_ids_.push_back(flow_id);
}

}  // namespace bench
}  // namespace kestrune
