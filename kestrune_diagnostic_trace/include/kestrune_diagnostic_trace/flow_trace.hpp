#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_HPP_

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <builtin_interfaces/msg/time.hpp>
#include <rclcpp/node.hpp>

#include "kestrune_diagnostic_trace/detail/flow_state.hpp"
#include "kestrune_diagnostic_trace/detail/run_facts.hpp"
#include "kestrune_diagnostic_trace/diagnostic_event.hpp"
#include "kestrune_diagnostic_trace/flow_check_result.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "kestrune_diagnostic_trace/flow_statistics.hpp"
#include "kestrune_diagnostic_trace/flow_trace_api.hpp"
#include "kestrune_diagnostic_trace/trace_flow_cfg.hpp"
#include "kestrune_diagnostic_trace/trace_point.hpp"
#include "kestrune_diagnostic_trace/trace_point_cfg.hpp"
#include "kestrune_diagnostic_trace/trace_point_handle.hpp"

namespace kestrune {
namespace trace {

class PointSender;

namespace detail {
class HealthReporter;
class PeriodicThread;
class Publication;
struct ArrivalMark;
struct FlowSnapshot;
}  // namespace detail

/// Receives the result of every check of the flow it is registered for; runs on
/// the checking thread with the engine locked, so it must not call back into
/// the engine (such calls are refused with an error line).
using FlowHandler =
    std::function<void(const std::string& flow_id, const std::shared_ptr<FlowCheckResult>& result)>;

/// The process-wide flow tracer: flow configurations, recorded points, handlers
/// and publishers, all behind one engine mutex.
///
/// A flow marked `remote` in the flow file is judged by a flow checker: with a
/// node, Trace, CheckFlow and ResetFlow send its points and requests on the
/// file's points_topic instead of judging them, and the flow has no queue and
/// no health status here.
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
  /// node, each distinct `diag_topic` gets a publisher on it, remote flows a
  /// sender on the points topic, and with the file's `diagnostics` enabled the
  /// flows' health is published on /diagnostics. Handlers, the publish callback and a running
  /// heartbeat are kept. YAML errors are logged; errors from ROS 2 (an invalid topic name) reach
  /// the caller, after the flows before the refused one are loaded. What the tools call errors
  /// but Init loads anyway (see InitChecked) is logged as a warning naming the file.
  ///
  /// The file is read and parsed (ParseFlowConfig) and the publishers are
  /// created before the engine mutex is taken; the new flows then replace the
  /// old ones at once, so other threads see either all of the old
  /// configuration or all of the new.
  void Init(const std::string& config_path, std::shared_ptr<rclcpp::Node> node);
  /// As above without a node: events of every flow go to `publish_callback`,
  /// and remote flows, which have nothing to send with, are judged here.
  void Init(const std::string& config_path, PublishCallback& publish_callback);
  /// Makes this engine the judge of flows marked remote: Init loads them as
  /// flows of its own. For flow_checker, which loads the same flow files as
  /// the nodes that send to it; call before Init.
  void JudgeRemoteFlows();

  /// Init that also says what was wrong with the file, for a launch that
  /// should fail fast (refuse to go on when `HasErrors` finds an error among them).
  ///
  /// Loads exactly what Init loads, writes the same lines and throws the same
  /// exceptions. Returns, in file order: the one error for a file that cannot
  /// be read (nothing is loaded then), the errors of ParseFlowConfig (every
  /// entry and value dropped, a file refused), and as errors the things Init
  /// loads anyway but only warns about: bytes that are not UTF-8, a second YAML
  /// document, a key given twice in one mapping, merge keys; a file larger
  /// than kMaxFlowConfigBytes is a warning. The lint's judgements (unknown
  /// keys, topic names, duplicate flow ids, settings without effect) are not
  /// among them: they need the tools library.
  std::vector<ConfigFinding> InitChecked(const std::string& config_path,
                                         std::shared_ptr<rclcpp::Node> node);
  /// As above without a node.
  std::vector<ConfigFinding> InitChecked(const std::string& config_path,
                                         PublishCallback& publish_callback);

  /// Registers a flow built in code, shared with the caller; its queue starts
  /// empty. It is judged here: `remote` is read from flow files only.
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
  /// Records a new point stamped now and judges it at once. Once the flow has
  /// run and been reset, the point is one of its earlier ones, rewritten:
  /// nothing is allocated unless it sends an event through a node's publisher
  /// or the run outgrows the queue's first block (32 points).
  void Trace(const std::string& flow_id, const std::string& point_id, bool success);
  /// As above, with key/value pairs that are appended to the point's event texts.
  void Trace(const std::string& flow_id, const std::string& point_id, bool success,
             const std::unordered_map<std::string, std::string>& metadata);
  /// A handle that traces `point_id` into `flow_id` without looking the flow
  /// up each time; the flow need not be registered yet.
  TracePointHandle Point(const std::string& flow_id, const std::string& point_id);

  /// Empties the flow's queue and rewinds its running check, repeat counts
  /// included; refused for "heartbeat". The points nobody else holds are kept
  /// for the next run.
  void ResetFlow(const std::string& flow_id);
  /// ResetFlow for every flow, remote ones included, except that the heartbeat
  /// queue and its repeat counts are kept (the queue holds at most its newest 1000 points).
  void ResetAllFlows();

  /// The flow's recorded points, or an empty queue. The reference outlives the
  /// lock: read it only while no other thread records into, resets or removes
  /// the flow, or re-initialises the engine.
  const FlowQueue& GetTracePoints(const std::string& flow_id);
  /// Milliseconds from the flow's first to its last recorded point; 0 when unknown.
  uint64_t GetFlowDuration(const std::string& flow_id);

  /// Judges everything recorded for the flow against its configuration, calls
  /// the flow's handler and publishes the verdict. Never returns an empty pointer.
  /// A remote flow's check request goes to its checker, whose verdict arrives
  /// as the flow's event; the result here is INVALID_FLOW, for nothing is recorded here.
  std::shared_ptr<FlowCheckResult> CheckFlow(const std::string& flow_id);

  /// Counts a point that is about to be recorded after points stamped later
  /// than it (flow_checker records the points of other processes by their
  /// stamps): the flow's health tells how many late points its run had.
  void NoteLatePoint(const std::string& flow_id);

  /// The flow's run durations over its latest passing runs, whole and per
  /// step; nothing for a flow not registered. Read-only: the engine mutex is
  /// held only to copy the numbers, which are sorted after it is released.
  /// They survive ResetFlow, and Init for a flow loaded again under the same
  /// id; RemoveTraceFlow and registering a flow anew drop them.
  std::optional<FlowStatistics> GetFlowStatistics(const std::string& flow_id);

 private:
  friend class TracePointHandle;
  using FlowState = detail::FlowState;

  FlowTrace();
  /// Stops the health reporter and the heartbeat before the tables they read
  /// and trace into are destroyed.
  ~FlowTrace();

  /// One beat of the heartbeat thread.
  void beat();
  /// Every flow as the health reporter needs it, into `snapshots` (whose
  /// entries are reused), sorted by flow id; takes the engine mutex in slices.
  void snapshotFlows(std::vector<detail::FlowSnapshot>& snapshots);
  static void snapshotInto(detail::FlowSnapshot& snapshot, const std::string& flow_id,
                           const FlowState& flow);
  /// Sends the flow's stall event unless a point came since it stood at
  /// `mark`, and returns the flow as it is then; takes the engine mutex.
  std::optional<detail::FlowSnapshot> reportStall(const std::string& flow_id,
                                                  detail::ArrivalMark mark);

  /// Every Init: reads and parses, creates the publishers, then swaps the new
  /// flows in under the engine mutex at once. `publish_callback` replaces the
  /// current one when given. Returns the file's findings.
  std::vector<ConfigFinding> load(const std::string& config_path,
                                  std::shared_ptr<rclcpp::Node> node,
                                  const PublishCallback* publish_callback);
  /// The flow recorded here, or null; engine mutex held.
  FlowState* findFlow(const std::string& flow_id);
  /// Brings what the handle found up to date with the flow table; engine mutex held.
  void resolve(const TracePointHandle& handle);
  /// Trace of a point made by the engine, stamped `timestamp_ms`, into a flow
  /// found by id; engine mutex held.
  void traceLocked(const std::string& flow_id, const std::string& point_id, bool success,
                   int64_t timestamp_ms);
  /// TracePointHandle::Trace.
  void traceHandle(const TracePointHandle& handle, bool success);
  /// Appends the point to the flow's queue and runs the running check; engine
  /// mutex held. `callers`: the point is the caller's, who may still hold it.
  void record(const std::string& flow_id, FlowState& flow, std::shared_ptr<TracePoint>&& point,
              bool callers = false);

  // Flows that span processes (remote_flows.cpp).
  /// The remote flows of one Init and what sends their points.
  struct RemoteFlows {
    std::unordered_map<std::string, std::shared_ptr<TraceFlowCfg>> flows;
    std::shared_ptr<PointSender> sender;
  };
  /// Takes the flows a checker judges out of `parsed` and creates their
  /// sender; calls into ROS 2, so never under the engine mutex. Without a node,
  /// when this engine is their judge, or when ROS 2 refuses the points topic
  /// (`refused` then holds its error), they stay in `parsed`.
  RemoteFlows takeRemoteFlows(ParsedFlowConfig& parsed, rclcpp::Node* node,
                              std::exception_ptr& refused) const;
  // The rest with the engine mutex held.
  /// A point of a flow not recorded here: sent on when the flow is remote, else
  /// the warning "flow_id {} not found". Off the hot path.
  void traceElsewhere(const std::string& flow_id, const TracePoint& point);
  /// Sends the point if `flow_id` is a remote flow; false when it is none.
  bool sendRemotePoint(const std::string& flow_id, const TracePoint& point);
  /// Sends a check (or reset) request if `flow_id` is a remote flow; false when it is none.
  bool sendRemoteRequest(const std::string& flow_id, bool check);
  /// With check_at_end: ends the flow's run once `point` has completed it.
  void endRunIfComplete(const std::string& flow_id, FlowState& flow, const TracePoint& point);
  /// Checks the flow's run, then starts a new one, also when the verdict could not be published.
  void endRun(const std::string& flow_id, FlowState& flow);
  /// The flow check of CheckFlow on a found flow; the verdict is stamped `began`.
  std::shared_ptr<FlowCheckResult> checkRun(const std::string& flow_id, FlowState& flow,
                                            const builtin_interfaces::msg::Time& began);
  /// Empties the queue into the spare points, rewinds the running check and
  /// starts the facts of a new run.
  static void resetRun(FlowState& flow);

  // Guarded by mutex_.
  std::unordered_map<std::string, FlowState> flows_;
  /// Changes whenever a flow is added to or removed from flows_ (or the table
  /// is replaced): handles and the health report's slices compare it to know
  /// whether what they found is still there.
  uint64_t flows_generation_{1};
  /// Apart from flows_: a handler may be registered before its flow and outlives it.
  std::unordered_map<std::string, FlowHandler> flow_handlers_;
  /// diag_topic → publisher, shared by the flows of that topic.
  std::unordered_map<std::string, std::shared_ptr<DiagnosticPublisher>> publishers_;
  std::shared_ptr<rclcpp::Node> node_;
  /// The publish callback and the events' clock.
  std::unique_ptr<detail::Publication> publication_;
  /// Flows judged by a flow checker: in no other table, so the usual point pays nothing for them.
  std::unordered_map<std::string, std::shared_ptr<TraceFlowCfg>> remote_flows_;
  /// Sends the remote flows' points; empty without remote flows.
  std::shared_ptr<PointSender> remote_sender_;
  /// Set once, before Init, by the checker's main thread; read by Init.
  std::atomic<bool> judge_remote_flows_{false};
  /// The `stats_window` of the last Init: how many runs each flow's window keeps.
  uint32_t stats_window_{DiagnosticsConfig::kDefaultStatsWindow};

  const FlowQueue empty_queue_;
  std::mutex mutex_;
  /// Stopped first by the destructor: their threads read and trace into the tables above.
  std::unique_ptr<detail::PeriodicThread> heartbeat_;
  std::unique_ptr<detail::HealthReporter> health_;
};

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_TRACE_HPP_
