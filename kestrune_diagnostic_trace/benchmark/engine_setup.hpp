#ifndef KESTRUNE_DIAGNOSTIC_TRACE__BENCHMARK__ENGINE_SETUP_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__BENCHMARK__ENGINE_SETUP_HPP_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <rclcpp/node.hpp>

namespace kestrune {
namespace bench {

/// Loads the engine with the flows the benchmarks trace into.
///
/// Every recording flow is ordered over the same points and sends no event,
/// except: "bench_callback" reports every point to a publish callback that does
/// nothing, "bench_node" reports every point through the node's publisher, and
/// "bench_shared" is unordered so that several threads may trace into it at once.
class EngineSetup {
 public:
  static constexpr const char* kPlainFlow = "bench_plain";
  static constexpr const char* kCallbackFlow = "bench_callback";
  static constexpr const char* kNodeFlow = "bench_node";
  static constexpr const char* kSharedFlow = "bench_shared";
  static constexpr size_t kThreadFlows = 4;
  /// The sizes of the flows the CheckFlow benchmarks judge.
  static constexpr size_t kCheckFlowSizes[] = {100, 1000, 10000};

  /// Without a node, "bench_node" has no publisher and reports to the callback too.
  explicit EngineSetup(std::shared_ptr<rclcpp::Node> node);

  /// The points of every recording flow, in their configured order.
  static const std::vector<std::string>& PointIds();
  /// The flow traced by thread `index` when threads do not share a flow.
  static std::string ThreadFlow(size_t index);
  /// "bench_check_<points>".
  static std::string CheckFlowId(size_t points);
  /// An event like those "bench_node" sends: the success report of its fourth point.
  static trace::DiagnosticEvent NodeFlowEvent();

  /// Loads the flows again with flow health on /diagnostics switched on
  /// (published every 100 ms, the shortest period) or off; the check flows
  /// are registered again when they were there.
  void SetDiagnostics(bool enabled);

  /// Registers, for each of kCheckFlowSizes, an ordered flow of that many distinct
  /// points and records one passing run of it.
  void AddCheckFlows();

  /// Every flow id the engine holds, in the order they were added.
  const std::vector<std::string>& FlowIds() const { return flow_ids_; }

  trace::FlowTrace& engine() const { return *engine_; }

 private:
  void addCheckFlow(size_t points);

  void load(const std::string& yaml);

  trace::FlowTrace* engine_;
  std::shared_ptr<rclcpp::Node> node_;
  std::string yaml_;
  bool with_check_flows_{false};
  std::vector<std::string> flow_ids_;
};

}  // namespace bench
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__BENCHMARK__ENGINE_SETUP_HPP_
