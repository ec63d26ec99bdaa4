// flow_checker's judgement of arriving messages: counting, ordering, recording.
#include "point_checker.hpp"

#include <exception>
#include <utility>

#include "kestrune_diagnostic_trace/logger.hpp"

namespace kestrune {
namespace checker {

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;
constexpr int64_t kNanosecondsPerMillisecond = 1000000;
/// Unknown flow ids warned about by name; later ones are only counted.
constexpr size_t kWarnedUnknownLimit = 1000;

int64_t StampNs(const builtin_interfaces::msg::Time& stamp) {
  return static_cast<int64_t>(stamp.sec) * kNanosecondsPerSecond + stamp.nanosec;
}

builtin_interfaces::msg::Time TimeOf(int64_t ns) {
  builtin_interfaces::msg::Time time;
  time.sec = static_cast<int32_t>(ns / kNanosecondsPerSecond);
  time.nanosec = static_cast<uint32_t>(ns % kNanosecondsPerSecond);
  return time;
}

const char* KindName(uint8_t kind) {
  switch (kind) {
    case trace::FlowPoint::CHECK:
      return "check request";
    case trace::FlowPoint::RESET:
      return "reset request";
    default:
      return "point";
  }
}

}  // namespace

PointChecker::PointChecker(trace::FlowTrace& engine, std::set<std::string> flows,
                           std::chrono::milliseconds reorder_window)
    : engine_(engine), flows_(std::move(flows)), window_(reorder_window) {}

void PointChecker::Arrive(trace::FlowPoint message, const WriterId& writer, int64_t arrival_ns,
                          SteadyTime now) {
  int64_t stamp_ns = StampNs(message.stamp);
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_.received;
  const SenderTable::Arrival sender = senders_.Note(writer, message.sequence);
  counts_.senders = senders_.size();
  if (sender.lost != 0) {
    counts_.lost += sender.lost;
    KLOG_WARN("flow_checker: {} message{} from '{}' lost: got number {}, expected {}", sender.lost,
              sender.lost == 1 ? "" : "s", message.source, message.sequence, sender.expected);
  }
  if (stamp_ns == 0) {
    // An unstamped message (`ros2 topic pub`) is stamped on arrival.
    stamp_ns = arrival_ns;
    message.stamp = TimeOf(arrival_ns);
  } else if (!counts_.largest_delay_ns || arrival_ns - stamp_ns > *counts_.largest_delay_ns) {
    counts_.largest_delay_ns = arrival_ns - stamp_ns;
  }
  if (message.kind > trace::FlowPoint::RESET) {
    if (!warned_kind_) {
      warned_kind_ = true;
      KLOG_WARN("flow_checker: message of unknown kind {} from '{}' ignored; later ones too",
                static_cast<int>(message.kind), message.source);
    }
    return;
  }
  if (flows_.count(message.flow_id) == 0) {
    ++counts_.unknown;
    if (warned_unknown_.size() < kWarnedUnknownLimit &&
        warned_unknown_.insert(message.flow_id).second) {
      KLOG_WARN(
          "flow_checker: flow '{}' is not in the flow file; its messages are ignored "
          "(first from '{}')",
          message.flow_id, message.source);
    }
    return;
  }
  const bool was_empty = window_.empty();
  window_.Add(ReleaseKey{stamp_ns, sender.sender, message.sequence, 0}, std::move(message), now);
  if (was_empty) {
    wake_.notify_all();
  }
}

void PointChecker::ReleaseDue(SteadyTime now) {
  release([this, now] { return window_.Release(now); });
}

void PointChecker::ReleaseAll() {
  release([this] { return window_.ReleaseAll(); });
}

void PointChecker::release(const std::function<std::vector<Released>()>& take) {
  std::vector<Released> released;
  std::vector<bool> late;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released = take();
    late.reserve(released.size());
    for (Released& entry : released) {
      late.push_back(noteRelease(entry));
    }
  }
  deliverAll(released, late);
  std::lock_guard<std::mutex> lock(mutex_);
  counts_.released += released.size();
}

void PointChecker::WaitForDue(SteadyTime deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  const std::optional<SteadyTime> due = window_.NextDue();
  // Later arrivals fall due later: only the first one into an empty window wakes us.
  const bool was_empty = !due;
  wake_.wait_until(lock, due && *due < deadline ? *due : deadline,
                   [&] { return stopped_ || (was_empty && !window_.empty()); });
}

void PointChecker::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  wake_.notify_all();
}

CheckerCounts PointChecker::Counts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

void PointChecker::deliverAll(const std::vector<Released>& released,
                              const std::vector<bool>& late) {
  for (size_t i = 0; i < released.size(); ++i) {
    try {
      deliver(released[i], late[i]);
    } catch (const std::exception& error) {
      // A publisher that throws loses that event, not the messages after it.
      KLOG_ERROR("flow_checker: {} of flow '{}' not recorded: {}",
                 KindName(released[i].message.kind), released[i].message.flow_id, error.what());
    }
  }
}

bool PointChecker::noteRelease(Released& released) {
  auto [latest, first] =
      released_up_to_.try_emplace(released.message.flow_id, released.key.stamp_ns);
  if (first || released.key.stamp_ns >= latest->second) {
    latest->second = released.key.stamp_ns;
    return false;
  }
  if (released.message.kind != trace::FlowPoint::POINT) {
    return false;
  }
  ++counts_.late;
  // Recorded at the latest stamp released, so its run's duration and the gaps
  // the running check measures neither shrink nor wrap.
  released.key.stamp_ns = latest->second;
  return true;
}

void PointChecker::deliver(const Released& released, bool late) {
  const trace::FlowPoint& message = released.message;
  KLOG_DEBUG("flow_checker: {} '{}' of flow '{}' from '{}'", KindName(message.kind),
             message.point_id, message.flow_id, message.source);
  if (message.kind == trace::FlowPoint::CHECK) {
    // A request ends the run, as the run's last point does with check_at_end.
    engine_.CheckFlow(message.flow_id);
    engine_.ResetFlow(message.flow_id);
    return;
  }
  if (message.kind == trace::FlowPoint::RESET) {
    engine_.ResetFlow(message.flow_id);
    return;
  }
  auto point = std::make_shared<trace::TracePoint>(message.point_id, message.success);
  point->timestamp_ms = released.key.stamp_ns / kNanosecondsPerMillisecond;
  for (const auto& entry : message.metadata) {
    point->metadata[entry.key] = entry.value;
  }
  if (late) {
    KLOG_WARN("flow_checker: point '{}' of flow '{}' from '{}' came late", message.point_id,
              message.flow_id, message.source);
    engine_.NoteLatePoint(message.flow_id);
  }
  engine_.Trace(message.flow_id, point);
}

}  // namespace checker
}  // namespace kestrune
