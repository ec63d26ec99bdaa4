// The running check: judges each point the moment it is recorded.
#include "running_check.hpp"

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include <rclcpp/clock.hpp>

#include "kestrune_diagnostic_trace/logger.hpp"
#include "publication.hpp"

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
/// send of the same check reuses both.
class Reporter {
 public:
  Reporter(const std::string& flow_id, const TraceFlowCfg& flow, const TracePoint& point,
           RunFacts& facts, const PublishCallback& publish_callback)
      : flow_id_(flow_id),
        flow_(flow),
        point_(point),
        facts_(facts),
        publish_callback_(publish_callback) {}

  RunFacts& facts() { return facts_; }

  void Send(uint8_t kind, std::string_view point_id, int32_t status, uint32_t id,
            std::string_view head, std::string_view tail, bool with_metadata) {
    if (!event_) {
      event_.emplace();
      event_->source_id = flow_id_;
      event_->stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
    }
    event_->kind = kind;
    event_->point_id.assign(point_id);
    event_->status = status;
    event_->id = static_cast<int32_t>(id);
    // Sized once: the text is built from two parts and usually outgrows the inline buffer.
    event_->msg.clear();
    event_->msg.reserve(head.size() + tail.size());
    event_->msg.append(head).append(tail);
    if (with_metadata) {
      appendMetadataText(event_->msg, point_);
    }
    PublishEvent(flow_, publish_callback_, *event_);
    KLOG_INFO("ROS2 topic pub: '{}'", event_->msg);
    // Swapped, not copied: the text goes to the flow's facts without a copy,
    // and a second event of this check is built in the old buffer.
    facts_.last_event.swap(event_->msg);
  }

  /// The success or failure report of a match at `cfg`; the caller has
  /// decided that there is one (reportsOutcome).
  void ReportOutcome(const TracePointCfg& cfg) {
    if (point_.success) {
      Send(kPointEvent, cfg.point_id, kStatusOk, cfg.event_id, "Status OK: ", cfg.point_id, true);
      return;
    }
    if (cfg.is_critical) {
      facts_.NoteFailure(cfg.point_id, "point failed");
    } else {
      facts_.optional_trouble = true;
    }
    Send(kPointEvent, cfg.point_id, kStatusFailed, cfg.event_id, "Status Failed: ", cfg.point_id,
         true);
  }

 private:
  const std::string& flow_id_;
  const TraceFlowCfg& flow_;
  const TracePoint& point_;
  RunFacts& facts_;
  const PublishCallback& publish_callback_;
  std::optional<DiagnosticEvent> event_;
};

// The paths below are kept out of line, so that the usual point, which takes
// none of them, pays for none of their set-up.

[[gnu::noinline]] void reportOutcome(const std::string& flow_id, const TraceFlowCfg& flow,
                                     const TracePointCfg& cfg, const TracePoint& point,
                                     RunFacts& facts, const PublishCallback& publish_callback) {
  Reporter(flow_id, flow, point, facts, publish_callback).ReportOutcome(cfg);
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

/// A match of the point just recorded at expected[at]: a repeated point's
/// timing and count, the flow's advance, then the outcome report.
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
    // Saturates rather than wrapping to 0, which would restart the repeat count.
    if (cfg.exec_cnt < std::numeric_limits<uint32_t>::max()) {
      ++cfg.exec_cnt;
    }
    if (cfg.repeat_max != 0 && cfg.exec_cnt > cfg.repeat_max) {
      --cfg.exec_cnt;
    }
  }
  // A repeated point holds the flow until it has matched repeat_cnt times in this run.
  flow.check_index = static_cast<uint32_t>(cfg.exec_cnt >= cfg.repeat_cnt ? at + 1 : at);
  judgeOutcome(reporter, cfg, point);
}

/// A match of a repeated point where the flow expects it.
[[gnu::noinline]] void matchRepeated(const std::string& flow_id, const FlowQueue& queue,
                                     TraceFlowCfg& flow, size_t cur, RunFacts& facts,
                                     const PublishCallback& publish_callback) {
  Reporter reporter(flow_id, flow, *queue.back(), facts, publish_callback);
  match(reporter, queue, flow, cur);
}

/// A point of an ordered flow that is not the expected one: the next one (the
/// expected one is passed over), a duplicate, beyond the end, or undefined.
[[gnu::noinline]] void judgeMismatch(const std::string& flow_id, const FlowQueue& queue,
                                     TraceFlowCfg& flow, size_t cur, RunFacts& facts,
                                     const PublishCallback& publish_callback) {
  const TracePoint& point = *queue.back();
  const auto& expected = flow.flow_points;
  const size_t count = expected.size();
  Reporter reporter(flow_id, flow, point, facts, publish_callback);
  if (cur + 1 < count && point.point_id == expected[cur + 1]->point_id) {
    const TracePointCfg& passed = *expected[cur];
    // A repeated point recorded in this run but fewer than repeat_cnt times is
    // done, not missing: the flow check passes it over the same way.
    if (passed.exec_cnt == 0) {
      if (passed.is_critical) {
        facts.NoteFailure(passed.point_id, "point missing");
        reporter.Send(kPointEvent, passed.point_id, kStatusFailed, passed.event_id,
                      "Status Failed, point missing: ", passed.point_id, false);
      } else {
        facts.optional_trouble = true;
        KLOG_WARN("optional point missing: '{}'", passed.point_id);
      }
    }
    match(reporter, queue, flow, cur + 1);
    return;
  }
  // A check_index past the points (a flow edited after it ran) has no neighbour to repeat.
  const TracePoint* previous = queue.size() > 1 ? queue[queue.size() - 2].get() : nullptr;
  if (previous != nullptr && cur != 0 && cur - 1 < count &&
      point.point_id == expected[cur - 1]->point_id && point.point_id == previous->point_id) {
    const TracePointCfg& repeated = *expected[cur - 1];
    facts.NoteFailure(repeated.point_id, "point duplicated");
    reporter.Send(kPointEvent, repeated.point_id, kStatusFailed, repeated.event_id,
                  "Status Failed, point duplicated: ", repeated.point_id, true);
    return;
  }
  if (cur >= count) {
    return;
  }
  facts.NoteFailure(point.point_id, "undefined point");
  reporter.Send(kPointEvent, point.point_id, kStatusFailed, expected[cur]->event_id,
                "Status Failed, undefined point: ", point.point_id, true);
}

[[gnu::noinline]] void reportUndefined(const std::string& flow_id, const TraceFlowCfg& flow,
                                       const TracePoint& point, RunFacts& facts,
                                       const PublishCallback& publish_callback) {
  facts.NoteFailure(point.point_id, "undefined point");
  Reporter(flow_id, flow, point, facts, publish_callback)
      .Send(kPointEvent, point.point_id, kStatusFailed, flow.event_id,
            "Status Failed, undefined point: ", point.point_id, true);
}

}  // namespace

void RunningCheck(const std::string& flow_id, const FlowQueue& queue, const TracePoint& point,
                  TraceFlowCfg& flow, RunFacts& facts, const PublishCallback& publish_callback) {
  const auto& expected = flow.flow_points;
  if (!flow.check_order) {
    for (const auto& cfg : expected) {
      if (cfg->point_id == point.point_id) {
        if (reportsOutcome(*cfg, point)) {
          reportOutcome(flow_id, flow, *cfg, point, facts, publish_callback);
        } else if (!point.success) {
          noteUnreportedFailure(*cfg, facts);
        }
        return;
      }
    }
    reportUndefined(flow_id, flow, point, facts, publish_callback);
    return;
  }

  // Widened so that the neighbours of the expected point cannot overflow.
  const size_t cur = flow.check_index;
  // Indexed once: a deque's index is a few instructions more than a vector's.
  const TracePointCfg* cfg = cur < expected.size() ? expected[cur].get() : nullptr;
  if (cfg == nullptr || point.point_id != cfg->point_id) {
    judgeMismatch(flow_id, queue, flow, cur, facts, publish_callback);
    return;
  }
  if (cfg->repeat_cnt != 0) {
    matchRepeated(flow_id, queue, flow, cur, facts, publish_callback);
    return;
  }
  flow.check_index = static_cast<uint32_t>(cur + 1);
  if (reportsOutcome(*cfg, point)) {
    reportOutcome(flow_id, flow, *cfg, point, facts, publish_callback);
  } else if (!point.success) {
    noteUnreportedFailure(*cfg, facts);
  }
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune
