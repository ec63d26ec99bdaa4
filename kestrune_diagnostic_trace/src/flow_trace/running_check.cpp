// The running check: judges each point the moment it is recorded.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include <rclcpp/clock.hpp>

#include "kestrune_diagnostic_trace/flow_trace.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace trace {

namespace {

constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusFailed = 1;

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

/// The usual point: configured, matched where the flow expects it, not
/// repeated and with nothing to report. It only advances an ordered flow;
/// returns false, changing nothing, for any other point.
bool passesQuietly(TraceFlowCfg& flow, const TracePoint& point) {
  const auto& expected = flow.flow_points;
  if (!flow.check_order) {
    for (const auto& cfg : expected) {
      if (cfg->point_id == point.point_id) {
        return !reportsOutcome(*cfg, point);
      }
    }
    return false;
  }
  if (flow.check_index >= expected.size()) {
    return false;
  }
  const TracePointCfg& cfg = *expected[flow.check_index];
  if (cfg.repeat_cnt != 0 || reportsOutcome(cfg, point) || point.point_id != cfg.point_id) {
    return false;
  }
  ++flow.check_index;
  return true;
}

/// The whole running check of `point`, the last point of `queue`; `publish`
/// applies the publication rule. checkFlow calls it only for a point that does
/// not pass quietly, and keeps it out of line so that such a point pays for none
/// of its set-up.
template <typename Publish>
[[gnu::noinline]] void judgePoint(const std::string& flow_id, const FlowQueue& queue,
                                  TraceFlowCfg& flow, const TracePoint& point,
                                  const Publish& publish) {
  const auto& expected = flow.flow_points;

  // Most points send nothing, so the event and its one clock reading are made
  // on the first send only; a second send in the same call reuses both.
  std::optional<DiagnosticEvent> event;
  auto send = [&](int32_t status, uint32_t id, std::string_view head, std::string_view tail,
                  bool with_metadata) {
    if (!event) {
      event.emplace();
      event->source_id = flow_id;
      event->stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
    }
    event->status = status;
    event->id = static_cast<int32_t>(id);
    // Sized once: the text is built from two parts and usually outgrows the inline buffer.
    event->msg.clear();
    event->msg.reserve(head.size() + tail.size());
    event->msg.append(head).append(tail);
    if (with_metadata) {
      appendMetadataText(event->msg, point);
    }
    publish(*event);
    KLOG_INFO("ROS2 topic pub: '{}'", event->msg);
  };
  auto report = [&](const TracePointCfg& cfg) {
    if (!reportsOutcome(cfg, point)) {
      return;
    }
    if (point.success) {
      send(kStatusOk, cfg.event_id, "Status OK: ", cfg.point_id, true);
    } else {
      send(kStatusFailed, cfg.event_id, "Status Failed: ", cfg.point_id, true);
    }
  };

  if (!flow.check_order) {
    for (const auto& cfg : expected) {
      if (cfg->point_id == point.point_id) {
        report(*cfg);
        return;
      }
    }
    send(kStatusFailed, flow.event_id, "Status Failed, undefined point: ", point.point_id, true);
    return;
  }

  // Widened so that the neighbours of the expected point cannot overflow.
  const size_t cur = flow.check_index;
  const size_t count = expected.size();
  const TracePoint* previous = queue.size() > 1 ? queue[queue.size() - 2].get() : nullptr;

  // Counting, timing and the outcome report of `point` as a match of expected[at].
  auto match = [&](size_t at) {
    TracePointCfg& cfg = *expected[at];
    if (cfg.repeat_cnt != 0) {
      if (previous != nullptr && cfg.timeout_ms != 0) {
        const uint64_t duration = gapMs(*previous, point);
        KLOG_INFO("duration: '{}'", duration);
        if (duration > cfg.timeout_ms && cfg.event_id != 0 && cfg.on_timeout) {
          send(kStatusFailed, cfg.event_id, cfg.point_id, "Timeout", false);
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
    report(cfg);
  };

  if (cur < count && point.point_id == expected[cur]->point_id) {
    match(cur);
    return;
  }
  if (cur + 1 < count && point.point_id == expected[cur + 1]->point_id) {
    const TracePointCfg& passed = *expected[cur];
    // A repeated point recorded in this run but fewer than repeat_cnt times is
    // done, not missing: the flow check passes it over the same way.
    if (passed.exec_cnt == 0) {
      if (passed.is_critical) {
        send(kStatusFailed, passed.event_id, "Status Failed, point missing: ", passed.point_id,
             false);
      } else {
        KLOG_WARN("optional point missing: '{}'", passed.point_id);
      }
    }
    match(cur + 1);
    return;
  }
  // A check_index past the points (a flow edited after it ran) has no neighbour to repeat.
  if (previous != nullptr && cur != 0 && cur - 1 < count &&
      point.point_id == expected[cur - 1]->point_id && point.point_id == previous->point_id) {
    const TracePointCfg& repeated = *expected[cur - 1];
    send(kStatusFailed, repeated.event_id, "Status Failed, point duplicated: ", repeated.point_id,
         true);
    return;
  }
  if (cur >= count) {
    return;
  }
  send(kStatusFailed, expected[cur]->event_id, "Status Failed, undefined point: ", point.point_id,
       true);
}

}  // namespace

void FlowTrace::checkFlow(const std::string& flow_id, const FlowQueue& queue, TraceFlowCfg& flow) {
  const TracePoint& point = *queue.back();
  if (passesQuietly(flow, point)) {
    return;
  }
  judgePoint(flow_id, queue, flow, point,
             [this, &flow](const DiagnosticEvent& event) { publishEvent(flow, event); });
}

}  // namespace trace
}  // namespace kestrune
