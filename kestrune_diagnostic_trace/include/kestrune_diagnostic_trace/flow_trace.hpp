#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_HPP_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <rclcpp/node.hpp>

#include "kestrune_diagnostic_trace/diagnostic_event.hpp"
#include "kestrune_diagnostic_trace/flow_check_result.hpp"
#include "kestrune_diagnostic_trace/flow_trace_api.hpp"
#include "kestrune_diagnostic_trace/trace_flow_cfg.hpp"
#include "kestrune_diagnostic_trace/trace_point.hpp"
#include "kestrune_diagnostic_trace/trace_point_cfg.hpp"

namespace YAML {
class Node;
}  // namespace YAML

namespace kestrune {
namespace trace {

/// Receives the result of every check of the flow it is registered for; runs on
/// the checking thread with the engine locked, so it must not call back into
/// the engine (such calls are refused with an error line).
using FlowHandler =
    std::function<void(const std::string& flow_id, const std::shared_ptr<FlowCheckResult>& result)>;

/// The recorded points of one flow, oldest first.
using FlowQueue = std::deque<std::shared_ptr<TracePoint>>;

/// The process-wide flow tracer: flow configurations, recorded points, handlers
/// and publishers, all behind one engine mutex.
///
/// Every public operation is thread-safe. `Init` is meant for one caller at a
/// time, before other threads use the engine. Flow handlers and publish
/// callbacks run with the engine mutex held.
class FlowTrace {
 public:
  /// The one engine, built on first use and destroyed at process exit.
  static FlowTrace* GetInstance();

  FlowTrace(const FlowTrace&) = delete;
  FlowTrace& operator=(const FlowTrace&) = delete;
  FlowTrace(FlowTrace&&) = delete;
  FlowTrace& operator=(FlowTrace&&) = delete;

  /// Replaces every flow with those of the YAML file at `config_path`; with a
  /// node, each distinct `diag_topic` gets a publisher on it. Handlers, the
  /// publish callback and a running heartbeat are kept. YAML errors are logged;
  /// errors from ROS 2 (an invalid topic name) reach the caller.
  void Init(const std::string& config_path, std::shared_ptr<rclcpp::Node> node);
  /// As above without a node: events of every flow go to `publish_callback`.
  void Init(const std::string& config_path, PublishCallback& publish_callback);

  /// Registers a flow built in code, shared with the caller; its queue starts empty.
  void RegisterTraceFlow(std::shared_ptr<TraceFlowCfg> flow_cfg);
  /// Registers a flow of the given points (shared, not copied), without a topic.
  void RegisterTraceFlow(const std::string& flow_id,
                         std::vector<std::shared_ptr<TracePointCfg>>& points,
                         const std::string& flow_name, const std::string& description,
                         bool check_order);
  /// Drops the flow's configuration and recorded points; its handler stays.
  void RemoveTraceFlow(const std::string& flow_id);
  /// Sets the handler for the flow's check results; the flow need not exist yet.
  void RegisterFlowHandler(const std::string& flow_id, FlowHandler handler);

  /// The ids of all registered flows, in byte-wise order.
  std::set<std::string> GetTraceFlows();
  /// The live configuration of the flow, or an empty pointer.
  std::shared_ptr<TraceFlowCfg> GetTraceFlowCfg(const std::string& flow_id);

  /// Records a prepared point and judges it at once.
  void Trace(const std::string& flow_id, const std::shared_ptr<TracePoint>& point);
  /// Records a new point stamped now and judges it at once.
  void Trace(const std::string& flow_id, const std::string& point_id, bool success);
  /// As above, with key/value pairs that are appended to the point's event texts.
  void Trace(const std::string& flow_id, const std::string& point_id, bool success,
             const std::unordered_map<std::string, std::string>& metadata);

  /// Empties the flow's queue and rewinds its running check, repeat counts
  /// included; refused for "heartbeat".
  void ResetFlow(const std::string& flow_id);
  /// ResetFlow for every flow, except that the heartbeat queue and its repeat
  /// counts are kept (the queue holds at most its newest 1000 points).
  void ResetAllFlows();

  /// The flow's recorded points, or an empty queue. The reference outlives the
  /// lock: read it only while no other thread records into, resets or removes
  /// the flow, or re-initialises the engine.
  const FlowQueue& GetTracePoints(const std::string& flow_id);
  /// Milliseconds from the flow's first to its last recorded point; 0 when unknown.
  uint64_t GetFlowDuration(const std::string& flow_id);

  /// Judges everything recorded for the flow against its configuration, calls
  /// the flow's handler and publishes the verdict. Never returns an empty pointer.
  std::shared_ptr<FlowCheckResult> CheckFlow(const std::string& flow_id);

 private:
  FlowTrace();
  /// Stops a running heartbeat thread before the members it uses are destroyed.
  ~FlowTrace();

  std::shared_ptr<TracePointCfg> parseTracePointCfg(const YAML::Node& node);
  std::shared_ptr<TraceFlowCfg> parseTraceFlowCfg(const YAML::Node& node);

  /// Appends the point to the flow's queue and runs the running check; takes the engine mutex.
  void recordPoint(const std::string& flow_id, std::shared_ptr<TracePoint>&& point);
  /// The running check of the point just appended to `queue`, the flow's queue,
  /// against `flow`, its configuration; engine mutex held.
  void checkFlow(const std::string& flow_id, const FlowQueue& queue, TraceFlowCfg& flow);
  void heartbeatThreadFun(std::atomic<uint32_t>& duration_ms);
  /// Starts the heartbeat thread unless one runs or the period is 0.
  void startHeartbeat();
  /// Makes room in the heartbeat flow's queue before an append: it is never
  /// reset, so it keeps only the newest points. Engine mutex held.
  static void trimHeartbeatQueue(const std::string& flow_id, FlowQueue& queue);
  /// The heartbeat queue keeps at most this many of its newest points: the
  /// running check needs two, and 1000 keep a useful history (about 8 to 17
  /// minutes at a 1 s period) in roughly 150 KB.
  static constexpr size_t kHeartbeatQueueLimit = 1000;

  /// The publication rule: the flow's publisher, else the publish callback, else nothing.
  void publishEvent(const TraceFlowCfg& flow, const DiagnosticEvent& event);

  std::unordered_map<std::string, FlowQueue> flow_queues_;
  std::unordered_map<std::string, std::shared_ptr<TraceFlowCfg>> flow_cfgs_;
  /// Where one flow's entries of the two tables above are, so that Trace and
  /// ResetFlow reach both with one lookup. An entry of those node-based tables
  /// keeps its address until it is erased: whatever adds or erases a flow there
  /// does the same here.
  struct FlowEntries {
    FlowQueue* queue;
    std::shared_ptr<TraceFlowCfg>* cfg;
  };
  std::unordered_map<std::string, FlowEntries> flow_entries_;
  std::unordered_map<std::string, FlowHandler> flow_handlers_;
  std::unordered_map<std::string, std::shared_ptr<DiagnosticPublisher>> publishers_;
  const FlowQueue empty_queue_;
  std::mutex mutex_;
  std::shared_ptr<rclcpp::Node> node_;
  std::atomic<uint32_t> heartbeat_duration_{0};
  std::atomic<bool> heartbeat_running_{false};
  std::thread heartbeat_thread_;
  PublishCallback publish_callback_;

  // Serialises the heartbeat's start and end decisions and lets the destructor
  // cut a heartbeat sleep short and wait for the thread to leave.
  std::mutex heartbeat_mutex_;
  std::condition_variable heartbeat_wakeup_;
  bool shutting_down_{false};
};

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_HPP_
