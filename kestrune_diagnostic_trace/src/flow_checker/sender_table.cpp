// The senders heard by flow_checker and the gaps in their numbering.
#include "sender_table.hpp"

namespace kestrune {
namespace checker {

SenderTable::Arrival SenderTable::Note(const WriterId& writer, uint64_t sequence) {
  auto [entry, added] = senders_.try_emplace(writer);
  Sender& sender = entry->second;
  if (added) {
    sender.number = static_cast<uint32_t>(senders_.size() - 1);
  }
  Arrival arrival;
  arrival.sender = sender.number;
  if (sequence == 0) {
    return arrival;
  }
  // DDS delivers one writer's messages in order: a number at or below the
  // last is a duplicate, never a gap.
  if (sender.last != 0 && sequence > sender.last + 1) {
    arrival.lost = sequence - sender.last - 1;
    arrival.expected = sender.last + 1;
  }
  if (sequence > sender.last) {
    sender.last = sequence;
  }
  return arrival;
}

}  // namespace checker
}  // namespace kestrune
