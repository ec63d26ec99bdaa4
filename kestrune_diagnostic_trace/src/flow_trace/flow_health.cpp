// Flow health: a flow's level, summary and values from what the engine holds.
#include "flow_health.hpp"

#include <fmt/format.h>

namespace kestrune {
namespace trace {
namespace detail {

namespace {

// Viewers mark a heartbeat late after three missed periods, as a watchdog would.
constexpr uint32_t kLateBeatPeriods = 3;

/// A verdict's name as the values show it, and its reason as messages give it.
struct VerdictTexts {
  const char* name;
  const char* reason;
};

VerdictTexts TextsOf(FlowCheckStatus status) {
  switch (status) {
    case FlowCheckStatus::SUCCESS:
      return {"SUCCESS", "passed"};
    case FlowCheckStatus::FAILED:
      return {"FAILED", "point failed"};
    case FlowCheckStatus::INVALID_POINT:
      return {"INVALID_POINT", "invalid point"};
    case FlowCheckStatus::DUPLICATED_POINT:
      return {"DUPLICATED_POINT", "point duplicated"};
    case FlowCheckStatus::MISSING_POINT:
      return {"MISSING_POINT", "point missing"};
    case FlowCheckStatus::INVALID_ORDER:
      return {"INVALID_ORDER", "invalid order"};
    case FlowCheckStatus::INVALID_FLOW:
      return {"INVALID_FLOW", "invalid flow"};
  }
  return {"UNKNOWN", "unknown"};
}

std::string Seconds(double seconds) {
  return fmt::format("{:.2f} s", seconds);
}

double SecondsBetween(SteadyTime from, SteadyTime to) {
  return from < to ? std::chrono::duration<double>(to - from).count() : 0.0;
}

std::string OrNone(const std::string& text) {
  return text.empty() ? "none" : text;
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
          fmt::format("; {} late point{}", latePoints(), latePoints() == 1 ? "" : "s");
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
      return "stalled";
    }
    return started() ? "running" : "idle";
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
    return warned() ? FlowLevel::kWarn : FlowLevel::kOk;
  }

  std::string message(FlowLevel level) const {
    if (observation_.stalled) {
      std::string text = fmt::format("stalled after '{}' for {:.1f} s", flow_.last_point,
                                     SecondsBetween(observation_.last_change, now_));
      if (!flow_.next_point.empty()) {
        text += fmt::format(", expecting '{}'", flow_.next_point);
      }
      return text;
    }
    if (beatLate()) {
      return fmt::format("heartbeat late: last beat {:.1f} s ago, period {:.1f} s", beatAge(),
                         heartbeat_period_ms_ / 1000.0);
    }
    if (level == FlowLevel::kError) {
      return facts_.failure_point.empty()
                 ? fmt::format("failed ({})", facts_.failure_reason)
                 : fmt::format("failed at '{}' ({})", facts_.failure_point, facts_.failure_reason);
    }
    std::string text = progress();
    if (level == FlowLevel::kWarn) {
      text += facts_.timeout_sent || facts_.last_timeout_sent
                  ? "; a timeout was reported"
                  : "; optional points failed or missing";
    }
    return text;
  }

  /// Where the flow stands when nothing is wrong.
  std::string progress() const {
    if (flow_.heartbeat) {
      return flow_.run_points == 0 ? "waiting for first beat"
                                   : fmt::format("last beat {:.1f} s ago", beatAge());
    }
    if (started()) {
      std::string text = fmt::format("running: {} points recorded", flow_.run_points);
      if (!flow_.next_point.empty()) {
        text += fmt::format(", expecting '{}'", flow_.next_point);
      }
      return text;
    }
    if (facts_.last_verdict) {
      return fmt::format("passed {}/{} points in {}", facts_.last_run_points_reached,
                         flow_.configured_points,
                         Seconds(static_cast<double>(facts_.last_run_duration_ms) / 1000.0));
    }
    if (facts_.runs == 0 && flow_.run_points == 0) {
      return "waiting for first run";
    }
    return flow_.run_complete ? "run complete, not checked yet" : "idle";
  }

  std::vector<std::pair<std::string, std::string>> values() const {
    std::vector<std::pair<std::string, std::string>> values{
        {"flow id", flow_.flow_id},
        {"state", state()},
        {"last verdict", facts_.last_verdict ? TextsOf(*facts_.last_verdict).name : "none"},
        {"last failure point", OrNone(facts_.failure_point)},
        {"next expected point", OrNone(flow_.next_point)},
        {"points recorded", std::to_string(flow_.run_points)},
        {"configured points", std::to_string(flow_.configured_points)},
        {"last run duration",
         facts_.last_verdict ? Seconds(static_cast<double>(facts_.last_run_duration_ms) / 1000.0)
                             : "none"},
        {"runs checked", std::to_string(facts_.runs_checked)},
        {"runs failed", std::to_string(facts_.runs_failed)},
        {"timeouts", std::to_string(facts_.timeouts)},
        {"last event", OrNone(facts_.last_event)},
    };
    if (latePoints() != 0) {
      values.emplace_back("late points", std::to_string(latePoints()));
    }
    if (flow_.stall_ms != 0) {
      values.emplace_back("stall after", Seconds(flow_.stall_ms / 1000.0));
    }
    if (flow_.heartbeat) {
      values.emplace_back("last beat age", flow_.run_points == 0 ? "none" : Seconds(beatAge()));
      values.emplace_back("beat period", Seconds(heartbeat_period_ms_ / 1000.0));
    }
    return values;
  }

  const FlowSnapshot& flow_;
  const RunFacts& facts_;
  const FlowObservation& observation_;
  const SteadyTime now_;
  const uint32_t heartbeat_period_ms_;
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

const char* VerdictReason(FlowCheckStatus status) {
  return TextsOf(status).reason;
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune
