#ifndef KESTRUNE_DIAGNOSTIC_TRACE__TRACE_POINT_CFG_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__TRACE_POINT_CFG_HPP_

#include <cstdint>
#include <string>

namespace kestrune {
namespace trace {

/// One expected point of a flow, as configured.
///
/// `exec_cnt` is run-time state written by the running check under the engine
/// mutex; read it only while no thread traces into the flow.
struct TracePointCfg {
  explicit TracePointCfg(const std::string& point_id = "", const std::string& description = "")
      : point_id(point_id), description(description) {}

  std::string point_id;
  std::string description;
  /// A critical point must be executed for the flow to pass.
  bool is_critical{false};
  bool on_success{false};
  bool on_failure{true};
  bool on_timeout{false};
  uint32_t event_id{0};
  /// How many matches keep an ordered flow on this point; 0 means one.
  uint32_t repeat_cnt{0};
  /// Matches in the current run, set back to 0 by a reset of the flow; at most
  /// `repeat_max` when that is not 0.
  uint32_t exec_cnt{0};
  uint32_t repeat_max{0};
  /// Longest gap between two recordings of a repeated point; 0 means none.
  uint32_t timeout_ms{0};
  /// Kept with the point; no check acts on it.
  float freq_min{0.0F};
};

}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__TRACE_POINT_CFG_HPP_
