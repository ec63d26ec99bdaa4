#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__SENDER_TABLE_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__SENDER_TABLE_HPP_

#include <rmw/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>

namespace kestrune {
namespace checker {

/// A sender as DDS knows it: its writer's GID, from the message info.
using WriterId = std::array<uint8_t, RMW_GID_STORAGE_SIZE>;

/// The senders heard so far, each known by its writer, with the sequence
/// numbers they sent. A restarted sender has a new writer, so its numbers
/// starting again at 1 are no gap. Not thread-safe.
class SenderTable {
 public:
  /// What one message tells about its sender.
  struct Arrival {
    /// The sender's number, in order of first arrival.
    uint32_t sender{0};
    /// Messages skipped since the sender's previous one: lost on the way.
    uint64_t lost{0};
    /// The number expected in place of the message, when some were lost.
    uint64_t expected{0};
  };

  /// Notes a message numbered `sequence` from `writer`. Sequence 0 is an
  /// unnumbered message (`ros2 topic pub`): it is never a gap. A sender's first
  /// message counts no gap either: what it sent before the checker heard it was
  /// not lost on the way.
  Arrival Note(const WriterId& writer, uint64_t sequence);

  size_t size() const { return senders_.size(); }

 private:
  struct Sender {
    uint32_t number{0};
    /// The highest sequence number received; 0 before the first numbered message.
    uint64_t last{0};
  };

  std::map<WriterId, Sender> senders_;
};

}  // namespace checker
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_CHECKER__SENDER_TABLE_HPP_
