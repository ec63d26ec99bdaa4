// The running check: judges each point the moment it is recorded.
#include "running_check.hpp"

#include <cstdint>
#include <limits>
#include <string_view>

#include "check_rules.hpp"
#include "kestrune_diagnostic_trace/flow_report.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace trace {
namespace detail {

namespace {

constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusFailed = 1;
constexpr uint8_t kPointEvent = DiagnosticEvent::KIND_POINT;

// The reporter's key:value pairs after a comma, so a receiver sees the point's context.
void appendMetadataText(std::string& text, const TracePoint& point) {
  if (point.metadata.empty()) {
    return;
  }
  text += ',';
  for (const auto& [key, value] : point.metadata) {
    text.append(key).append(1, ':').append(value).append(1, ';');
  }
}

// A wall clock stepped back between two points is a gap of 0, not a huge
// unsigned duration that would read as a timeout.
uint64_t gapMs(const TracePoint& earlier, const TracePoint& later) {
  return later.timestamp_ms > earlier.timestamp_ms
             ? static_cast<uint64_t>(later.timestamp_ms - earlier.timestamp_ms)
             : 0;
}

// Whether a match at `cfg` sends a success or failure report for `point`.
bool reportsOutcome(const TracePointCfg& cfg, const TracePoint& point) {
  return cfg.event_id != 0 && (point.success ? cfg.on_success : cfg.on_failure);
}

/// Sends the events of one running check. Most points send nothing, so the
/// event and its one clock reading are made on the first send only; a second
/// send of the same check reuses both. The event is the flow's own, rebuilt
/// in the buffers of the last, so a report allocates nothing once the flow
/// has sent one like it.
class Reporter {
 public:
  Reporter(const std::string& flow_id, FlowState& flow, const TracePoint& point,
           Publication& publication)
      : flow_id_(flow_id), flow_(flow), point_(point), publication_(publication) {}

  RunFacts& facts() { return flow_.facts; }

  void Send(uint8_t kind, const std::string& point_id, int32_t status, uint32_t id,
            std::string_view head, std::string_view tail, bool with_metadata) {
    DiagnosticEvent& event = flow_.event;
    if (!begun_) {
      publication_.Begin(event, flow_id_);
      begun_ = true;
    }
    event.kind = kind;
    event.point_id = point_id;
    event.status = status;
    event.id = static_cast<int32_t>(id);
    // Appended to the cleared text rather than assigned: assigning checks for
    // overlap first and costs twice as much.
    event.msg.clear();
    event.msg.append(head).append(tail);
    if (with_metadata) {
      appendMetadataText(event.msg, point_);
    }
    publication_.Send(*flow_.cfg, event);
    KLOG_INFO("ROS2 topic pub: '{}'", event.msg);
    flow_.facts.last_event = event.msg;
  }

  /// The success or failure report of a match at `cfg`; the caller has
  /// decided that there is one (reportsOutcome).
  void ReportOutcome(const TracePointCfg& cfg) {
    if (point_.success) {
      Send(kPointEvent, cfg.point_id, kStatusOk, cfg.event_id, "Status OK: ", cfg.point_id, true);
      return;
    }
    if (cfg.is_critical) {
      facts().NoteFailure(cfg.point_id, report::VerdictReason(FlowCheckStatus::FAILED));
    } else {
      facts().optional_trouble = true;
    }
    Send(kPointEvent, cfg.point_id, kStatusFailed, cfg.event_id, "Status Failed: ", cfg.point_id,
         true);
  }

 private:
  const std::string& flow_id_;
  FlowState& flow_;
  const TracePoint& point_;
  Publication& publication_;
  bool begun_{false};
};

// The paths below are kept out of line, so that the usual point, which takes
// none of them, pays for none of their set-up.

[[gnu::noinline]] void reportOutcome(const std::string& flow_id, FlowState& flow,
                                     const TracePointCfg& cfg, const TracePoint& point,
                                     Publication& publication) {
  Reporter(flow_id, flow, point, publication).ReportOutcome(cfg);
}

/// A failed point that sends no report: a critical one waits for the flow
/// check's verdict, an optional one makes the run's health a warning.
[[gnu::noinline]] void noteUnreportedFailure(const TracePointCfg& cfg, RunFacts& facts) {
  if (!cfg.is_critical) {
    facts.optional_trouble = true;
  }
}

/// The outcome of a match: its report, or the note of a failure that sends none.
void judgeOutcome(Reporter& reporter, const TracePointCfg& cfg, const TracePoint& point) {
  if (reportsOutcome(cfg, point)) {
    reporter.ReportOutcome(cfg);
  } else if (!point.success) {
    noteUnreportedFailure(cfg, reporter.facts());
  }
}

/// Counts a match of a repeated point: saturating, rather than wrapping to 0
/// (which would restart the count), and at most repeat_max when that is set.
uint32_t countedMatch(const TracePointCfg& cfg) {
  uint32_t count = cfg.exec_cnt;
  if (count < std::numeric_limits<uint32_t>::max()) {
    ++count;
  }
  if (cfg.repeat_max != 0 && count > cfg.repeat_max) {
    --count;
  }
  return count;
}

/// A match of the point just recorded at expected[at]: a repeated point's
/// timing and count, the flow's advance, then the outcome report. The
/// configuration is shared and may be read by others (the heartbeat's, every
/// beat): its fields are stored only when they change.
void match(Reporter& reporter, const FlowQueue& queue, TraceFlowCfg& flow, size_t at) {
  TracePointCfg& cfg = *flow.flow_points[at];
  const TracePoint& point = *queue.back();
  if (cfg.repeat_cnt != 0) {
    if (queue.size() > 1 && cfg.timeout_ms != 0) {
      const uint64_t duration = gapMs(*queue[queue.size() - 2], point);
      KLOG_INFO("duration: '{}'", duration);
      if (duration > cfg.timeout_ms && cfg.event_id != 0 && cfg.on_timeout) {
        reporter.facts().NoteTimeout();
        reporter.Send(DiagnosticEvent::KIND_TIMEOUT, cfg.point_id, kStatusFailed, cfg.event_id,
                      cfg.point_id, "Timeout", false);
      }
    }
    const uint32_t count = countedMatch(cfg);
    if (count != cfg.exec_cnt) {
      cfg.exec_cnt = count;
    }
  }
  // A repeated point holds the flow until it has matched repeat_cnt times in this run.
  const auto next = static_cast<uint32_t>(cfg.exec_cnt >= cfg.repeat_cnt ? at + 1 : at);
  if (flow.check_index != next) {
    flow.check_index = next;
  }
  judgeOutcome(reporter, cfg, point);
}

/// A match of a repeated point where the flow expects it.
[[gnu::noinline]] void matchRepeated(const std::string& flow_id, FlowState& flow, size_t cur,
                                     Publication& publication) {
  Reporter reporter(flow_id, flow, *flow.queue.back(), publication);
  match(reporter, flow.queue, *flow.cfg, cur);
}

/// A point of an ordered flow that is not the expected one: the next one (the
/// expected one is passed over), a duplicate, beyond the end, or undefined.
[[gnu::noinline]] void judgeMismatch(const std::string& flow_id, FlowState& flow, size_t cur,
                                     Publication& publication) {
  const FlowQueue& queue = flow.queue;
  TraceFlowCfg& cfg = *flow.cfg;
  RunFacts& facts = flow.facts;
  const TracePoint& point = *queue.back();
  const auto& expected = cfg.flow_points;
  const size_t count = expected.size();
  Reporter reporter(flow_id, flow, point, publication);
  if (ComesNext(cfg, cur, point.point_id)) {
    const TracePointCfg& passed = *expected[cur];
    switch (JudgePassedOver(passed, passed.exec_cnt)) {
      case PassedOver::kMissing:
        facts.NoteFailure(passed.point_id, report::VerdictReason(FlowCheckStatus::MISSING_POINT));
        reporter.Send(kPointEvent, passed.point_id, kStatusFailed, passed.event_id,
                      "Status Failed, point missing: ", passed.point_id, false);
        break;
      case PassedOver::kOptionalMissing:
        facts.optional_trouble = true;
        KLOG_WARN("optional point missing: '{}'", passed.point_id);
        break;
      case PassedOver::kDone:
        break;
    }
    match(reporter, queue, cfg, cur + 1);
    return;
  }
  // A check_index past the points (a flow edited after it ran) has no neighbour to repeat.
  const TracePoint* previous = queue.size() > 1 ? queue[queue.size() - 2].get() : nullptr;
  if (previous != nullptr && cur != 0 && cur - 1 < count &&
      point.point_id == expected[cur - 1]->point_id && point.point_id == previous->point_id) {
    const TracePointCfg& repeated = *expected[cur - 1];
    facts.NoteFailure(repeated.point_id, report::VerdictReason(FlowCheckStatus::DUPLICATED_POINT));
    reporter.Send(kPointEvent, repeated.point_id, kStatusFailed, repeated.event_id,
                  "Status Failed, point duplicated: ", repeated.point_id, true);
    return;
  }
  if (cur >= count) {
    return;
  }
  facts.NoteFailure(point.point_id, report::kReasonUndefinedPoint);
  reporter.Send(kPointEvent, point.point_id, kStatusFailed, expected[cur]->event_id,
                "Status Failed, undefined point: ", point.point_id, true);
}

[[gnu::noinline]] void reportUndefined(const std::string& flow_id, FlowState& flow,
                                       const TracePoint& point, Publication& publication) {
  flow.facts.NoteFailure(point.point_id, report::kReasonUndefinedPoint);
  Reporter(flow_id, flow, point, publication)
      .Send(kPointEvent, point.point_id, kStatusFailed, flow.cfg->event_id,
            "Status Failed, undefined point: ", point.point_id, true);
}

}  // namespace

void RunningCheck(const std::string& flow_id, const TracePoint& point, FlowState& flow,
                  Publication& publication) {
  TraceFlowCfg& cfg_flow = *flow.cfg;
  const auto& expected = cfg_flow.flow_points;
  if (!cfg_flow.check_order) {
    for (const auto& cfg : expected) {
      if (cfg->point_id == point.point_id) {
        if (reportsOutcome(*cfg, point)) {
          reportOutcome(flow_id, flow, *cfg, point, publication);
        } else if (!point.success) {
          noteUnreportedFailure(*cfg, flow.facts);
        }
        return;
      }
    }
    reportUndefined(flow_id, flow, point, publication);
    return;
  }

  // Widened so that the neighbours of the expected point cannot overflow.
  const size_t cur = cfg_flow.check_index;
  // Indexed once: a deque's index is a few instructions more than a vector's.
  const TracePointCfg* cfg = cur < expected.size() ? expected[cur].get() : nullptr;
  if (cfg == nullptr || point.point_id != cfg->point_id) {
    judgeMismatch(flow_id, flow, cur, publication);
    return;
  }
  if (cfg->repeat_cnt != 0) {
    matchRepeated(flow_id, flow, cur, publication);
    return;
  }
  cfg_flow.check_index = static_cast<uint32_t>(cur + 1);
  if (reportsOutcome(*cfg, point)) {
    reportOutcome(flow_id, flow, *cfg, point, publication);
  } else if (!point.success) {
    noteUnreportedFailure(*cfg, flow.facts);
  }
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune
