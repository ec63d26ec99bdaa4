// The reorder window: messages held for a while, then released in stamp order.
#include "reorder_window.hpp"

namespace kestrune {
namespace checker {

void ReorderWindow::Add(ReleaseKey key, trace::FlowPoint message, SteadyTime arrival) {
  key.arrival = arrivals_++;
  held_.emplace(key, std::move(message));
  due_.emplace_back(arrival + window_, key);
}

std::vector<Released> ReorderWindow::Release(SteadyTime now) {
  std::optional<ReleaseKey> last;
  while (!due_.empty() && due_.front().first <= now) {
    if (!last || *last < due_.front().second) {
      last = due_.front().second;
    }
    due_.pop_front();
  }
  return last ? releaseUpTo(*last) : std::vector<Released>();
}

std::vector<Released> ReorderWindow::ReleaseAll() {
  due_.clear();
  std::vector<Released> released;
  released.reserve(held_.size());
  for (auto& [key, message] : held_) {
    released.push_back({key, std::move(message)});
  }
  held_.clear();
  return released;
}

std::optional<SteadyTime> ReorderWindow::NextDue() const {
  // Entries of messages released early only make the wake-up come sooner.
  if (held_.empty()) {
    return std::nullopt;
  }
  return due_.front().first;
}

std::vector<Released> ReorderWindow::releaseUpTo(const ReleaseKey& last) {
  std::vector<Released> released;
  auto end = held_.upper_bound(last);
  for (auto entry = held_.begin(); entry != end; ++entry) {
    released.push_back({entry->first, std::move(entry->second)});
  }
  held_.erase(held_.begin(), end);
  return released;
}

}  // namespace checker
}  // namespace kestrune
