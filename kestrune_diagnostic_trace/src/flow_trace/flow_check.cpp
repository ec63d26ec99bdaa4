// The flow check: the verdict on a whole run of a flow.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <rclcpp/clock.hpp>

#include "check_rules.hpp"
#include "engine_lock.hpp"
#include "flow_health.hpp"
#include "kestrune_diagnostic_trace/flow_report.hpp"
#include "kestrune_diagnostic_trace/flow_trace.hpp"
#include "kestrune_diagnostic_trace/logger.hpp"
#include "publication.hpp"

namespace kestrune {
namespace trace {

namespace {

/// One comparison of a flow's recorded points with its configured points.
///
/// Runs with the engine mutex held. The handler and the publication are
/// reached through the two callables, which may throw; nothing here catches.
class FlowCheck {
 public:
  FlowCheck(const std::string& flow_id, const TraceFlowCfg& flow, const FlowQueue& queue,
            FlowCheckResult& result, DiagnosticEvent& event, std::function<void()> call_handler,
            std::function<void()> publish)
      : flow_id_(flow_id),
        flow_(flow),
        queue_(queue),
        result_(result),
        event_(event),
        call_handler_(std::move(call_handler)),
        publish_(std::move(publish)),
        first_seen_(flow.flow_points.size(), nullptr) {}

  void Run() {
    logSequences();
    const bool passed = flow_.check_order ? compareOrdered() : compareUnordered();
    if (passed) {
      pass();
    }
  }

  /// How many configured points the comparison found recorded, up to where it stopped.
  size_t reached() const { return reached_; }

  /// Per configured point, its first recording the comparison took; nullptr
  /// for a point it did not reach.
  const std::vector<const TracePoint*>& firstSeen() const { return first_seen_; }

 private:
  enum class Mismatch { kMissing, kDuplicated, kInvalid, kOrderError };

  void logSequences() const {
    // Info lines only: with info filtered out none of them is written or counted,
    // so the sequences, a string as long as the run, are not built either.
    if (Logger::Instance("spdlog").level() > static_cast<int>(spdlog::level::info)) {
      return;
    }
    std::string recorded;
    for (const auto& point : queue_) {
      for (const auto& entry : point->metadata) {
        KLOG_INFO("Flow '{}' has trace point '{}' metadata '{}' = '{}'", flow_id_, point->point_id,
                  entry.first, entry.second);
      }
      if (!recorded.empty()) {
        recorded += " -> ";
      }
      recorded += "(" + point->point_id + ")";
    }
    KLOG_INFO("Flow '{}' trace points: {}", flow_id_, recorded);

    std::string configured;
    for (const auto& point : flow_.flow_points) {
      if (!configured.empty()) {
        configured += " -> ";
      }
      configured += point->is_critical ? "<" + point->point_id + ">" : "[" + point->point_id + "]";
    }
    KLOG_INFO("Flow '{}' trace config: {}", flow_id_, configured);
  }

  /// Returns true when the comparison passed; false after a terminal failure.
  bool compareOrdered() {
    const auto& points = flow_.flow_points;
    size_t i = 0;
    size_t j = 0;
    // Recordings counted against points[j]'s repeats; an optional mismatch leaves it as it is.
    uint32_t r = 0;
    // Recordings points[j] has taken since the comparison reached it.
    uint32_t taken = 0;
    while (i < queue_.size()) {
      if (j >= points.size()) {
        notInConfig(queue_[i]);
        return false;
      }
      const size_t k = j;
      const std::shared_ptr<TracePoint> recorded = queue_[i];
      const std::shared_ptr<TracePointCfg> expected = points[k];

      if (recorded->point_id == expected->point_id) {
        // Counted once, however often a repeated point comes.
        if (counted_ <= k) {
          ++reached_;
          counted_ = k + 1;
          first_seen_[k] = recorded.get();
        }
        if (!recorded->success) {
          if (expected->is_critical) {
            pointFailed(recorded, expected);
            return false;
          }
          KLOG_WARN("Optional point '{}' failed in flow '{}'", expected->point_id, flow_.flow_id);
        }
        const uint32_t limit = detail::RecordingsTaken(*expected);
        if (r < limit) {
          ++r;
        }
        ++taken;
        if (r >= limit) {
          ++j;
          r = 0;
          taken = 0;
        }
        ++i;
        continue;
      }

      // Passed over for the next configured point: a repeated point that came
      // is done, as the running check has it.
      if (detail::ComesNext(flow_, k, recorded->point_id) &&
          detail::JudgePassedOver(*expected, taken) == detail::PassedOver::kDone) {
        ++j;
        r = 0;
        taken = 0;
        continue;
      }

      ++j;
      taken = 0;
      const Mismatch kind = classify(i, k);
      reportMismatch(kind, recorded, expected);
      if (expected->is_critical) {
        KLOG_ERROR("{}", event_.msg);
        announceThenPublish();
        return false;
      }
      KLOG_WARN("Optional flow point error: {}", event_.msg);
      if (kind != Mismatch::kMissing) {
        ++i;
      }
    }

    // The points the run ended before; the one it was on has taken `taken` recordings.
    for (size_t m = j; m < points.size(); ++m) {
      if (detail::JudgePassedOver(*points[m], m == j ? taken : 0) == detail::PassedOver::kMissing) {
        const std::shared_ptr<TracePointCfg> missing = points[m];
        KLOG_ERROR("Flow '{}' trace point '{}' missing", flow_id_, missing->point_id);
        result_.status = FlowCheckStatus::MISSING_POINT;
        result_.desired_point = missing;
        fail(failureIdAt(*missing),
             "Status Failed, point " + missing->point_id + " missing in flow " + flow_.flow_id);
        return false;
      }
    }
    return true;
  }

  Mismatch classify(size_t i, size_t k) const {
    const auto& points = flow_.flow_points;
    const std::string& recorded_id = queue_[i]->point_id;
    if (detail::ComesNext(flow_, k, recorded_id)) {
      return Mismatch::kMissing;
    }
    if (i > 0 && recorded_id == queue_[i - 1]->point_id) {
      return Mismatch::kDuplicated;
    }
    if (i + 1 < queue_.size() && queue_[i + 1]->point_id == points[k]->point_id) {
      return Mismatch::kInvalid;
    }
    return Mismatch::kOrderError;
  }

  /// Everything a mismatch does before the critical/optional split, the handler call included.
  void reportMismatch(Mismatch kind, const std::shared_ptr<TracePoint>& recorded,
                      const std::shared_ptr<TracePointCfg>& expected) {
    const std::string suffix = " in flow " + flow_.flow_id;
    switch (kind) {
      case Mismatch::kMissing:
        KLOG_INFO("Flow '{}' trace point '{}' missing", flow_id_, expected->point_id);
        result_.status = FlowCheckStatus::MISSING_POINT;
        event_.msg = "Status Failed, point " + expected->point_id + " missing" + suffix;
        break;
      case Mismatch::kDuplicated:
        KLOG_INFO("Flow '{}' trace point '{}' duplicated", flow_id_, recorded->point_id);
        result_.status = FlowCheckStatus::DUPLICATED_POINT;
        result_.failure_point = recorded;
        event_.msg = "Status Failed, point " + recorded->point_id + " duplicated" + suffix;
        break;
      case Mismatch::kInvalid:
        KLOG_INFO("Flow '{}' trace point '{}' invalid", flow_id_, recorded->point_id);
        result_.status = FlowCheckStatus::INVALID_POINT;
        result_.failure_point = recorded;
        event_.msg = "Status Failed, point " + recorded->point_id + " invalid" + suffix;
        break;
      case Mismatch::kOrderError:
        KLOG_INFO("Flow '{}' trace point '{}' order error", flow_id_, recorded->point_id);
        result_.status = FlowCheckStatus::INVALID_ORDER;
        result_.failure_point = recorded;
        event_.msg = "Status Failed, point " + recorded->point_id + " error" + suffix;
        break;
    }
    result_.desired_point = expected;
    event_.id = failureIdAt(*expected);
    KLOG_WARN("Flow '{}' trace point '{}' not match config '{}'", flow_id_, recorded->point_id,
              expected->point_id);
    call_handler_();
    event_.status = 1;
  }

  void notInConfig(const std::shared_ptr<TracePoint>& recorded) {
    KLOG_WARN("Point '{}' not in flow config", recorded->point_id);
    result_.status = FlowCheckStatus::INVALID_POINT;
    result_.failure_point = recorded;
    fail(flowEventId(),
         "Status Failed, point " + recorded->point_id + " invalid in flow " + flow_.flow_id);
  }

  void pointFailed(const std::shared_ptr<TracePoint>& recorded,
                   const std::shared_ptr<TracePointCfg>& expected) {
    KLOG_ERROR("Point '{}' failed in flow '{}'", expected->point_id, flow_.flow_id);
    result_.status = FlowCheckStatus::FAILED;
    result_.failure_point = recorded;
    result_.desired_point = expected;
    fail(failureIdAt(*expected),
         "Status Failed, point " + expected->point_id + " failed in flow " + flow_.flow_id);
  }

  /// Returns true when the comparison passed; false after a terminal failure.
  bool compareUnordered() {
    // Queue positions per point id, oldest first: back() is the most recent remaining.
    std::unordered_map<std::string, std::vector<size_t>> remaining;
    for (size_t position = 0; position < queue_.size(); ++position) {
      remaining[queue_[position]->point_id].push_back(position);
    }

    size_t position = 0;
    for (const auto& expected : flow_.flow_points) {
      const size_t k = position++;
      const uint32_t passes = detail::RecordingsTaken(*expected);
      for (uint32_t taken = 0; taken < passes; ++taken) {
        auto entry = remaining.find(expected->point_id);
        if (entry == remaining.end()) {
          // As in the ordered comparison, a point taken at least once is not
          // missing for want of further repetitions.
          if (taken == 0 && expected->is_critical) {
            KLOG_ERROR("Critical point '{}' not executed in flow '{}'", expected->point_id,
                       flow_id_);
            result_.status = FlowCheckStatus::MISSING_POINT;
            result_.desired_point = expected;
            fail(failureIdAt(*expected), "Status Failed, point " + expected->point_id +
                                             " missing in flow " + flow_.flow_id);
            return false;
          }
          break;
        }
        const std::shared_ptr<TracePoint> recorded = queue_[entry->second.back()];
        if (!recorded->success && expected->is_critical) {
          KLOG_ERROR("Point '{}' failed in flow '{}'", expected->point_id, flow_id_);
          result_.status = FlowCheckStatus::FAILED;
          result_.failure_point = recorded;
          result_.desired_point = expected;
          fail(failureIdAt(*expected),
               "Status Failed, point " + expected->point_id + " failed in flow " + flow_.flow_id);
          return false;
        }
        if (taken == 0) {
          ++reached_;
          first_seen_[k] = queue_[entry->second.front()].get();
        }
        entry->second.pop_back();
        if (entry->second.empty()) {
          remaining.erase(entry);
        }
      }
    }

    if (!remaining.empty()) {
      KLOG_ERROR("Some points not in flow '{}' executed: ", flow_id_);
      // Any leftover would do; the earliest recorded one makes the report repeatable.
      size_t earliest = queue_.size();
      for (const auto& entry : remaining) {
        earliest = std::min(earliest, entry.second.front());
      }
      notInConfig(queue_[earliest]);
      return false;
    }
    KLOG_INFO("All points executed in flow '{}'", flow_id_);
    return true;
  }

  void pass() {
    KLOG_INFO("Flow '{}' check passed", flow_id_);
    result_.status = FlowCheckStatus::SUCCESS;
    call_handler_();
    if (flow_.diag_topic.empty()) {
      return;
    }
    event_.source_id = flow_id_;
    if (flow_.event_id != 0) {
      event_.id = flowEventId();
    } else {
      // A handler may have edited the shared configuration while it ran.
      event_.id =
          flow_.flow_points.empty() ? 0 : static_cast<int32_t>(flow_.flow_points.back()->event_id);
    }
    event_.msg = "Succeed flow: " + flow_id_;
    event_.status = 0;
    KLOG_INFO("ROS2 topic pub: '{}'", event_.msg);
    publish_();
  }

  /// A terminal failure whose status and pointers are set: handler, then publish, then report.
  void fail(int32_t id, std::string text) {
    event_.id = id;
    event_.msg = std::move(text);
    call_handler_();
    event_.status = 1;
    publish_();
    KLOG_INFO("ROS2 topic pub: '{}'", event_.msg);
  }

  void announceThenPublish() {
    if (flow_.diag_topic.empty()) {
      return;
    }
    KLOG_INFO("Publish Ros2 diag event, status: {}, id: {}, msg: {}", event_.status, event_.id,
              event_.msg);
    publish_();
  }

  // Configured ids are unsigned; the message field is signed and takes them unchanged.
  int32_t flowEventId() const { return static_cast<int32_t>(flow_.event_id); }

  int32_t failureIdAt(const TracePointCfg& point) const {
    return static_cast<int32_t>(flow_.event_id != 0 ? flow_.event_id : point.event_id);
  }

  const std::string& flow_id_;
  const TraceFlowCfg& flow_;
  const FlowQueue& queue_;
  FlowCheckResult& result_;
  DiagnosticEvent& event_;
  std::function<void()> call_handler_;
  std::function<void()> publish_;
  size_t reached_{0};
  /// One past the index of the configured point counted last.
  size_t counted_{0};
  std::vector<const TracePoint*> first_seen_;
};

std::shared_ptr<FlowCheckResult> invalidFlow() {
  auto result = std::make_shared<FlowCheckResult>();
  result->status = FlowCheckStatus::INVALID_FLOW;
  return result;
}

/// First to last recorded point of the run, in milliseconds.
uint64_t runDurationMs(const FlowQueue& queue) {
  if (queue.empty()) {
    return 0;
  }
  const int64_t start = queue.front()->timestamp_ms;
  const int64_t end = queue.back()->timestamp_ms;
  return start < end ? static_cast<uint64_t>(end - start) : 0;
}

/// The point a verdict is about: the recorded one at fault, else the configured one.
std::string verdictPoint(const FlowCheckResult& result) {
  if (result.status == FlowCheckStatus::SUCCESS) {
    return {};
  }
  return result.failure_point   ? result.failure_point->point_id
         : result.desired_point ? result.desired_point->point_id
                                : std::string();
}

/// Keeps the verdict in the flow's facts for its health report.
void noteVerdict(detail::RunFacts& facts, const FlowCheckResult& result, const FlowQueue& queue,
                 size_t reached) {
  facts.last_verdict = result.status;
  ++facts.runs_checked;
  if (result.status == FlowCheckStatus::SUCCESS) {
    facts.error_latched = false;
  } else {
    ++facts.runs_failed;
    facts.failure_point = verdictPoint(result);
    facts.failure_reason = report::VerdictReason(result.status);
  }
  facts.last_run_points_reached = reached;
  facts.last_run_duration_ms = runDurationMs(queue);
}

/// Takes a checked run into the flow's statistics; a passing one is also
/// judged against the flow's budget. Returns the over-budget event to send, if any.
std::optional<DiagnosticEvent> measureRun(const std::string& flow_id, const TraceFlowCfg& flow,
                                          const FlowQueue& queue, const FlowCheckResult& result,
                                          const std::vector<const TracePoint*>& first_seen,
                                          detail::RunWindow& window, detail::RunFacts& facts) {
  if (result.status != FlowCheckStatus::SUCCESS) {
    window.AddFailed();
    return std::nullopt;
  }
  std::vector<double> steps(window.steps());
  const detail::RunTiming timing =
      detail::MeasureRun(queue, first_seen, steps.data(), steps.size());
  if (!timing.measured) {
    KLOG_WARN("Flow '{}': time stamps go backwards, run left out of its statistics", flow_id);
    window.AddLeftOut();
    return std::nullopt;
  }
  window.AddPassed(timing.duration_ms, steps.data());

  const auto took_ms = static_cast<uint64_t>(std::llround(timing.duration_ms));
  if (flow.budget_ms == 0 || took_ms <= flow.budget_ms) {
    facts.over_budget = false;
    return std::nullopt;
  }
  facts.over_budget = true;
  facts.over_budget_took_ms = took_ms;
  facts.over_budget_limit_ms = flow.budget_ms;
  KLOG_WARN("Flow '{}' over budget: took {} ms, budget {} ms", flow_id, took_ms, flow.budget_ms);
  if (flow.budget_event_id == 0 || flow.diag_topic.empty()) {
    return std::nullopt;
  }
  // Its own id: no listener takes it for the verdict, which passed.
  DiagnosticEvent event;
  event.source_id = flow_id;
  event.id = static_cast<int32_t>(flow.budget_event_id);
  event.status = 1;
  event.kind = DiagnosticEvent::KIND_OVER_BUDGET;
  event.verdict = static_cast<uint8_t>(FlowCheckStatus::SUCCESS);
  event.duration_ms = took_ms;
  event.msg = fmt::format("Status Failed, flow over budget: {} took {} ms, budget {} ms", flow_id,
                          took_ms, flow.budget_ms);
  return event;
}

}  // namespace

std::shared_ptr<FlowCheckResult> FlowTrace::CheckFlow(const std::string& flow_id) {
  KLOG_INFO("Check flow: {}", flow_id);
  // The verdict is stamped when the check began, before any wait for the lock.
  const builtin_interfaces::msg::Time began = rclcpp::Clock(RCL_SYSTEM_TIME).now();

  detail::EngineLock lock(mutex_, "CheckFlow");
  if (!lock) {
    return invalidFlow();
  }
  auto found = flows_.find(flow_id);
  if (found == flows_.end()) {
    if (!sendRemoteRequest(flow_id, true)) {
      KLOG_WARN("Flow with ID '{}' not found", flow_id);
    }
    return invalidFlow();
  }
  return checkRun(flow_id, found->second, began);
}

std::shared_ptr<FlowCheckResult> FlowTrace::checkRun(const std::string& flow_id, FlowState& found,
                                                     const builtin_interfaces::msg::Time& began) {
  auto result = std::make_shared<FlowCheckResult>();
  DiagnosticEvent event;
  event.source_id = flow_id;
  event.stamp = began;
  const FlowQueue& queue = found.queue;
  // The result and the handler may keep the points they are given.
  found.points_handed_out = true;
  // Kept alive by this check even if the holder of the configuration lets go of it.
  const std::shared_ptr<TraceFlowCfg> flow = found.cfg;
  if (queue.empty() || flow->flow_points.empty()) {
    KLOG_WARN("Flow with ID '{}' is empty", flow_id);
    result->status = FlowCheckStatus::INVALID_FLOW;
    noteVerdict(found.facts, *result, queue, 0);
    return result;
  }

  auto call_handler = [this, &flow_id, &result] {
    auto handler = flow_handlers_.find(flow_id);
    if (handler != flow_handlers_.end() && handler->second) {
      handler->second(flow_id, result);
    }
  };
  // Every event of a check is its verdict; readers take kind, verdict and
  // duration from the fields, never from the text.
  event.kind = DiagnosticEvent::KIND_VERDICT;
  event.duration_ms = runDurationMs(queue);
  detail::RunFacts& facts = found.facts;
  auto publish = [this, &flow, &event, &result, &facts] {
    event.verdict = static_cast<uint8_t>(result->status);
    event.point_id = verdictPoint(*result);
    publication_->Send(*flow, event);
    facts.last_event = event.msg;
  };
  FlowCheck check(flow_id, *flow, queue, *result, event, call_handler, publish);
  check.Run();
  noteVerdict(facts, *result, queue, check.reached());
  std::optional<DiagnosticEvent> over_budget =
      measureRun(flow_id, *flow, queue, *result, check.firstSeen(), found.window, facts);
  if (over_budget) {
    over_budget->stamp = event.stamp;
    publication_->Send(*flow, *over_budget);
    facts.last_event = over_budget->msg;
    KLOG_INFO("ROS2 topic pub: '{}'", over_budget->msg);
  }
  return result;
}

}  // namespace trace
}  // namespace kestrune
