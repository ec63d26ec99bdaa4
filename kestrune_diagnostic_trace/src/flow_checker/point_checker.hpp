#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__POINT_CHECKER_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__POINT_CHECKER_HPP_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kestrune_diagnostic_trace/flow_trace.hpp"
#include "kestrune_diagnostic_trace/point_sender.hpp"
#include "reorder_window.hpp"
#include "sender_table.hpp"

namespace kestrune {
namespace checker {

/// What the checker has seen since it started.
struct CheckerCounts {
  /// Messages received: points, check and reset requests.
  uint64_t received{0};
  /// Points recorded after points of their flow stamped later than them.
  uint64_t late{0};
  /// Messages missing from the senders' numbering.
  uint64_t lost{0};
  /// Messages naming a flow the flow file does not have.
  uint64_t unknown{0};
  /// Messages released from the reorder window and recorded in the engine.
  uint64_t released{0};
  size_t senders{0};
  /// The largest time from a message's stamp to its arrival; none before the first stamped message.
  std::optional<int64_t> largest_delay_ns;
};

/// The checker's judgement of arriving messages: it counts them, tells the
/// senders apart, holds them in the reorder window and feeds them to the
/// engine in stamp order, a point as a recorded point with its sender's stamp,
/// a check request as a check followed by a reset, a reset request as a reset.
///
/// Thread-safe: Arrive runs on the spinning thread, the release on a thread of
/// its own. Calls into the engine are made without the checker's mutex, from
/// the releasing thread only, so they happen in release order.
class PointChecker {
 public:
  /// `flows`: the flow ids the engine holds; messages of others are counted and dropped.
  PointChecker(trace::FlowTrace& engine, std::set<std::string> flows,
               std::chrono::milliseconds reorder_window);

  /// Takes one message as it arrives from `writer`, at `arrival_ns` on the
  /// system clock and `now` on the steady clock.
  void Arrive(trace::FlowPoint message, const WriterId& writer, int64_t arrival_ns, SteadyTime now);
  /// Records what is due at `now`; on the releasing thread.
  void ReleaseDue(SteadyTime now);
  /// Records everything still held, in stamp order; at the end, once nothing arrives any more.
  void ReleaseAll();
  /// Waits until a message is due, `deadline` comes or Stop is called.
  void WaitForDue(SteadyTime deadline);
  /// Ends every wait, now and later.
  void Stop();

  CheckerCounts Counts() const;

 private:
  /// Takes messages out of the window with `take` under the mutex, then records them.
  void release(const std::function<std::vector<Released>()>& take);
  /// Notes the message's lateness against its flow's latest released stamp,
  /// under the mutex; true when late.
  bool noteRelease(Released& released);
  /// Into the engine, in order; without the mutex.
  void deliverAll(const std::vector<Released>& released, const std::vector<bool>& late);
  void deliver(const Released& released, bool late);

  trace::FlowTrace& engine_;
  const std::set<std::string> flows_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopped_{false};
  ReorderWindow window_;
  SenderTable senders_;
  CheckerCounts counts_;
  /// Flow id → the stamp of its latest released message.
  std::unordered_map<std::string, int64_t> released_up_to_;
  /// Unknown flow ids already warned about; bounded, so a flood of ids costs no memory.
  std::unordered_set<std::string> warned_unknown_;
  bool warned_kind_{false};
};

}  // namespace checker
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__POINT_CHECKER_HPP_
