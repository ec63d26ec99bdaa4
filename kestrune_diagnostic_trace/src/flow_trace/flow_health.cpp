// Flow health: a flow's level, summary and values from what the engine holds.
#include "flow_health.hpp"

#include <optional>

#include <fmt/format.h>

#include "kestrune_diagnostic_trace/flow_report.hpp"

namespace kestrune {
namespace trace {
namespace detail {

namespace {

// Viewers mark a heartbeat late after three missed periods, as a watchdog would.
constexpr uint32_t kLateBeatPeriods = 3;

std::string Seconds(double seconds) {
  return report::SecondsValue(seconds);
}

double SecondsBetween(SteadyTime from, SteadyTime to) {
  return from < to ? std::chrono::duration<double>(to - from).count() : 0.0;
}

std::string OrNone(const std::string& text) {
  return text.empty() ? report::kNone : text;
}

/// Builds the summary and values of one assessment.
class Assessment {
 public:
  Assessment(const FlowSnapshot& snapshot, const FlowObservation& observation, SteadyTime now,
             uint32_t heartbeat_period_ms)
      : flow_(snapshot),
        facts_(snapshot.facts),
        observation_(observation),
        now_(now),
        heartbeat_period_ms_(heartbeat_period_ms) {}

  FlowLevel Level() const { return level(); }

  FlowHealth Run() {
    FlowHealth health;
    health.level = level();
    health.message = message(health.level);
    if (latePoints() != 0) {
      // A verdict spoiled by points that came out of order must read as such.
      health.message +=
          fmt::format(report::kLateSuffix, latePoints(), latePoints() == 1 ? "" : "s");
    }
    health.values = values();
    return health;
  }

 private:
  /// Of the run the status speaks of: the current one, or after a reset the one it ended.
  uint64_t latePoints() const {
    return flow_.run_points != 0 ? facts_.late_points : facts_.last_late_points;
  }

  bool started() const { return flow_.run_points != 0 && !flow_.run_complete; }

  const char* state() const {
    if (observation_.stalled) {
      return report::kStateStalled;
    }
    return started() ? report::kStateRunning : report::kStateIdle;
  }

  bool verdictFailed() const {
    return facts_.last_verdict && *facts_.last_verdict != FlowCheckStatus::SUCCESS;
  }

  bool warned() const {
    return facts_.optional_trouble || facts_.last_optional_trouble || facts_.timeout_sent ||
           facts_.last_timeout_sent;
  }

  /// Seconds since the last beat, or since the flow was first seen before any.
  double beatAge() const { return SecondsBetween(observation_.last_change, now_); }

  bool beatLate() const {
    return flow_.heartbeat && heartbeat_period_ms_ != 0 &&
           beatAge() * 1000.0 > static_cast<double>(kLateBeatPeriods) * heartbeat_period_ms_;
  }

  FlowLevel level() const {
    if (facts_.error_latched || verdictFailed() || observation_.stalled || beatLate()) {
      return FlowLevel::kError;
    }
    return warned() || facts_.over_budget || drifting() ? FlowLevel::kWarn : FlowLevel::kOk;
  }

  /// The recent runs' median exceeds the window's by more than drift_pct, once
  /// enough runs were seen to tell.
  bool drifting() const {
    if (flow_.drift_pct == 0) {
      return false;
    }
    const FlowStatistics& stats = statistics();
    return stats.count >= FlowStatistics::kRecentRuns &&
           stats.passed_runs >= FlowStatistics::kDriftMinRuns &&
           stats.recent_median_ms > stats.median_ms * (1.0 + flow_.drift_pct / 100.0);
  }

  /// Summarised on first use, outside the engine mutex.
  const FlowStatistics& statistics() const {
    if (!statistics_) {
      statistics_ = flow_.window ? flow_.window->Summarise(flow_.budget_ms, flow_.point_ids)
                                 : FlowStatistics{};
    }
    return *statistics_;
  }

  std::string message(FlowLevel level) const {
    if (observation_.stalled) {
      std::string text = fmt::format(report::kMessageStalled, flow_.last_point,
                                     SecondsBetween(observation_.last_change, now_));
      if (!flow_.next_point.empty()) {
        text += fmt::format(report::kMessageExpecting, flow_.next_point);
      }
      return text;
    }
    if (beatLate()) {
      return fmt::format(report::kMessageBeatLate, beatAge(), heartbeat_period_ms_ / 1000.0);
    }
    if (level == FlowLevel::kError) {
      return facts_.failure_point.empty()
                 ? fmt::format(report::kMessageFailed, facts_.failure_reason)
                 : fmt::format(report::kMessageFailedAt, facts_.failure_point,
                               facts_.failure_reason);
    }
    if (level == FlowLevel::kWarn && facts_.over_budget) {
      return fmt::format(report::kMessageOverBudget, facts_.over_budget_took_ms / 1000.0,
                         facts_.over_budget_limit_ms / 1000.0);
    }
    if (level == FlowLevel::kWarn && drifting()) {
      const FlowStatistics& stats = statistics();
      return fmt::format(report::kMessageDrift, stats.recent_median_ms / 1000.0,
                         FlowStatistics::kRecentRuns, stats.median_ms / 1000.0, stats.count);
    }
    std::string text = progress();
    if (level == FlowLevel::kWarn) {
      text += facts_.timeout_sent || facts_.last_timeout_sent ? report::kWarnTimeout
                                                              : report::kWarnOptional;
    }
    return text;
  }

  /// Where the flow stands when nothing is wrong.
  std::string progress() const {
    if (flow_.heartbeat) {
      return flow_.run_points == 0 ? report::kMessageWaitingForBeat
                                   : fmt::format(report::kMessageLastBeat, beatAge());
    }
    if (started()) {
      std::string text = fmt::format(report::kMessageRunning, flow_.run_points);
      if (!flow_.next_point.empty()) {
        text += fmt::format(report::kMessageExpecting, flow_.next_point);
      }
      return text;
    }
    if (facts_.last_verdict) {
      return fmt::format(report::kMessagePassed, facts_.last_run_points_reached,
                         flow_.configured_points,
                         Seconds(static_cast<double>(facts_.last_run_duration_ms) / 1000.0));
    }
    if (facts_.runs == 0 && flow_.run_points == 0) {
      return report::kMessageWaitingForRun;
    }
    return flow_.run_complete ? report::kMessageRunComplete : report::kMessageIdle;
  }

  std::vector<std::pair<std::string, std::string>> values() const {
    std::vector<std::pair<std::string, std::string>> values{
        {report::kFlowId, flow_.flow_id},
        {report::kState, state()},
        {report::kLastVerdict,
         facts_.last_verdict ? report::VerdictName(*facts_.last_verdict) : report::kNone},
        {report::kLastFailurePoint, OrNone(facts_.failure_point)},
        {report::kNextExpectedPoint, OrNone(flow_.next_point)},
        {report::kPointsRecorded, std::to_string(flow_.run_points)},
        {report::kConfiguredPoints, std::to_string(flow_.configured_points)},
        {report::kLastRunDuration,
         facts_.last_verdict ? Seconds(static_cast<double>(facts_.last_run_duration_ms) / 1000.0)
                             : report::kNone},
        {report::kRunsChecked, std::to_string(facts_.runs_checked)},
        {report::kRunsFailed, std::to_string(facts_.runs_failed)},
        {report::kTimeouts, std::to_string(facts_.timeouts)},
        {report::kLastEvent, OrNone(facts_.last_event)},
    };
    if (latePoints() != 0) {
      values.emplace_back(report::kLatePoints, std::to_string(latePoints()));
    }
    if (flow_.stall_ms != 0) {
      values.emplace_back(report::kStallAfter, Seconds(flow_.stall_ms / 1000.0));
    }
    if (flow_.heartbeat) {
      values.emplace_back(report::kLastBeatAge,
                          flow_.run_points == 0 ? report::kNone : Seconds(beatAge()));
      values.emplace_back(report::kBeatPeriod, Seconds(heartbeat_period_ms_ / 1000.0));
    }
    if (flow_.budget_ms != 0) {
      values.emplace_back(report::kBudget, Seconds(flow_.budget_ms / 1000.0));
    }
    addStatistics(values);
    return values;
  }

  void addStatistics(std::vector<std::pair<std::string, std::string>>& values) const {
    const FlowStatistics& stats = statistics();
    if (stats.count == 0) {
      return;
    }
    values.emplace_back(report::kRunsMeasured, std::to_string(stats.count));
    values.emplace_back(report::kMinDuration, Seconds(stats.min_ms / 1000.0));
    values.emplace_back(report::kMedianDuration, Seconds(stats.median_ms / 1000.0));
    values.emplace_back(report::kP95Duration, Seconds(stats.p95_ms / 1000.0));
    values.emplace_back(report::kMaxDuration, Seconds(stats.max_ms / 1000.0));
    if (flow_.budget_ms != 0) {
      values.emplace_back(report::kOverBudgetShare,
                          fmt::format("{:.0f} %", stats.over_budget_share * 100.0));
    }
    if (stats.left_out_runs != 0) {
      values.emplace_back(report::kRunsLeftOut, std::to_string(stats.left_out_runs));
    }
    for (const StepStatistics& step : stats.steps) {
      if (step.count != 0) {
        values.emplace_back(fmt::format(report::kStepKey, step.from_point, step.to_point),
                            fmt::format(report::kStepValue, Seconds(step.median_ms / 1000.0),
                                        Seconds(step.p95_ms / 1000.0)));
      }
    }
    if (stats.slowest_growing_step) {
      const StepStatistics& step = stats.steps[*stats.slowest_growing_step];
      values.emplace_back(report::kSlowestGrowingStep,
                          fmt::format(report::kStepName, step.from_point, step.to_point));
    }
  }

  const FlowSnapshot& flow_;
  const RunFacts& facts_;
  const FlowObservation& observation_;
  const SteadyTime now_;
  const uint32_t heartbeat_period_ms_;
  mutable std::optional<FlowStatistics> statistics_;
};

}  // namespace

void Observe(const FlowSnapshot& snapshot, SteadyTime now, FlowObservation& observation) {
  if (snapshot.mark() != observation.mark) {
    observation.mark = snapshot.mark();
    observation.last_change = now;
    observation.stalled = false;
  }
}

bool StallBegins(const FlowSnapshot& snapshot, const FlowObservation& observation, SteadyTime now) {
  return snapshot.stall_ms != 0 && !snapshot.heartbeat && !observation.stalled &&
         snapshot.run_points != 0 && !snapshot.run_complete &&
         now - observation.last_change >= std::chrono::milliseconds(snapshot.stall_ms);
}

FlowLevel AssessLevel(const FlowSnapshot& snapshot, const FlowObservation& observation,
                      SteadyTime now, uint32_t heartbeat_period_ms) {
  return Assessment(snapshot, observation, now, heartbeat_period_ms).Level();
}

FlowHealth AssessFlow(const FlowSnapshot& snapshot, const FlowObservation& observation,
                      SteadyTime now, uint32_t heartbeat_period_ms) {
  return Assessment(snapshot, observation, now, heartbeat_period_ms).Run();
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune
