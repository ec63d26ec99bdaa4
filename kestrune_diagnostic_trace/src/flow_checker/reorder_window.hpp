#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__REORDER_WINDOW_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__REORDER_WINDOW_HPP_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "kestrune_diagnostic_trace/point_sender.hpp"

namespace kestrune {
namespace checker {

using SteadyTime = std::chrono::steady_clock::time_point;

/// Where a message stands in the release order: by stamp, then by sender and
/// its sequence number; the arrival number keeps equal keys apart.
struct ReleaseKey {
  int64_t stamp_ns{0};
  uint32_t sender{0};
  uint64_t sequence{0};
  uint64_t arrival{0};

  bool operator<(const ReleaseKey& other) const {
    return std::tie(stamp_ns, sender, sequence, arrival) <
           std::tie(other.stamp_ns, other.sender, other.sequence, other.arrival);
  }
};

/// A message released by the window, with its place in the order.
struct Released {
  ReleaseKey key;
  trace::FlowPoint message;
};

/// Holds each message for a fixed time from its arrival, so that messages
/// from several senders can be put in stamp order before they are judged.
///
/// A message leaves when it has been held for the whole window, together with
/// every message stamped no later than it: holding those longer would only
/// make them late. So every message leaves within the window, and those that
/// arrive within the window of each other leave in stamp order. Not thread-safe.
class ReorderWindow {
 public:
  explicit ReorderWindow(std::chrono::milliseconds window) : window_(window) {}

  /// Holds `message` from `arrival`; `key.arrival` is set here.
  void Add(ReleaseKey key, trace::FlowPoint message, SteadyTime arrival);
  /// The messages due at `now`, in release order.
  std::vector<Released> Release(SteadyTime now);
  /// Every message held, in release order.
  std::vector<Released> ReleaseAll();
  /// When the next message falls due; nothing when none is held.
  std::optional<SteadyTime> NextDue() const;
  bool empty() const { return held_.empty(); }

 private:
  std::vector<Released> releaseUpTo(const ReleaseKey& last);

  const std::chrono::milliseconds window_;
  uint64_t arrivals_{0};
  std::map<ReleaseKey, trace::FlowPoint> held_;
  /// Arrival times with keys, oldest first; keys already released stay until their time comes.
  std::deque<std::pair<SteadyTime, ReleaseKey>> due_;
};

}  // namespace checker
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__REORDER_WINDOW_HPP_
