// Run statistics: the rings of a flow's latest run durations, and their figures.
#include "kestrune_diagnostic_trace/detail/run_window.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace kestrune {
namespace trace {
namespace detail {

namespace {

/// The median of `values`, which it sorts; 0 for none.
double Median(std::vector<double>& values) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

/// The nearest-rank 95th percentile of sorted `values`; 0 for none.
double P95(const std::vector<double>& sorted) {
  if (sorted.empty()) {
    return 0.0;
  }
  const auto rank = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(sorted.size())));
  return sorted[std::max<size_t>(rank, 1) - 1];
}

}  // namespace

RunWindow::RunWindow(uint32_t capacity)
    : capacity_(std::max<uint32_t>(capacity, 1)), durations_(capacity_) {}

double RunWindow::at(const std::vector<double>& ring, size_t width, size_t column,
                     uint32_t age) const {
  const uint32_t slot = (next_ + capacity_ - 1 - age) % capacity_;
  return ring[slot * width + column];
}

void RunWindow::Resize(uint32_t capacity) {
  capacity = std::max<uint32_t>(capacity, 1);
  if (capacity == capacity_) {
    return;
  }
  const uint32_t kept = std::min(count_, capacity);
  const size_t width = step_durations_.empty() ? 0 : steps_;
  std::vector<double> durations(capacity);
  std::vector<double> step_durations(static_cast<size_t>(capacity) * width);
  // Oldest kept first, so the newest ends at kept - 1.
  for (uint32_t row = 0; row < kept; ++row) {
    const uint32_t age = kept - 1 - row;
    durations[row] = at(durations_, 1, 0, age);
    for (size_t step = 0; step < width; ++step) {
      step_durations[row * width + step] = at(step_durations_, width, step, age);
    }
  }
  capacity_ = capacity;
  count_ = kept;
  next_ = kept % capacity;
  durations_ = std::move(durations);
  step_durations_ = std::move(step_durations);
}

void RunWindow::SetSteps(size_t steps) {
  if (steps == steps_) {
    return;
  }
  steps_ = steps;
  step_durations_.clear();
}

void RunWindow::AddPassed(double duration_ms, const double* step_ms) {
  if (step_durations_.empty() && steps_ != 0) {
    // Rows of earlier runs stay unmeasured.
    step_durations_.assign(static_cast<size_t>(capacity_) * steps_, -1.0);
  }
  durations_[next_] = duration_ms;
  std::copy(step_ms, step_ms + steps_, step_durations_.begin() + next_ * steps_);
  next_ = (next_ + 1) % capacity_;
  count_ = std::min(count_ + 1, capacity_);
  ++passed_;
}

FlowStatistics RunWindow::Summarise(uint32_t budget_ms,
                                    const std::vector<std::string>& points) const {
  FlowStatistics stats;
  stats.window = capacity_;
  stats.count = count_;
  stats.budget_ms = budget_ms;
  stats.passed_runs = passed_;
  stats.failed_runs = failed_;
  stats.left_out_runs = left_out_;
  const uint32_t recent = std::min(count_, FlowStatistics::kRecentRuns);

  // Newest first.
  std::vector<double> values;
  values.reserve(count_);
  for (uint32_t age = 0; age < count_; ++age) {
    values.push_back(at(durations_, 1, 0, age));
  }
  if (count_ != 0) {
    std::vector<double> latest(values.begin(), values.begin() + recent);
    stats.recent_median_ms = Median(latest);
    if (budget_ms != 0) {
      const auto over = std::count_if(values.begin(), values.end(),
                                      [budget_ms](double ms) { return ms > budget_ms; });
      stats.over_budget_share = static_cast<double>(over) / count_;
    }
    stats.median_ms = Median(values);
    stats.min_ms = values.front();
    stats.max_ms = values.back();
    stats.p95_ms = P95(values);
  }

  double growth = 0.0;
  const size_t steps = step_durations_.empty() ? 0 : steps_;
  for (size_t step = 0; step < steps && step + 1 < points.size(); ++step) {
    StepStatistics& figures = stats.steps.emplace_back();
    figures.from_point = points[step];
    figures.to_point = points[step + 1];
    std::vector<double> measured;
    std::vector<double> latest;
    for (uint32_t age = 0; age < count_; ++age) {
      const double ms = at(step_durations_, steps_, step, age);
      if (ms >= 0.0) {
        measured.push_back(ms);
        if (age < recent) {
          latest.push_back(ms);
        }
      }
    }
    figures.count = static_cast<uint32_t>(measured.size());
    figures.recent_median_ms = Median(latest);
    figures.median_ms = Median(measured);
    figures.p95_ms = P95(measured);
    if (figures.recent_median_ms - figures.median_ms > growth) {
      growth = figures.recent_median_ms - figures.median_ms;
      stats.slowest_growing_step = stats.steps.size() - 1;
    }
  }
  return stats;
}

namespace {

/// From `from` to `to` of one run, on the steady clock or the wall stamps; 0 when negative.
double Between(const TracePoint& from, const TracePoint& to, bool steady) {
  const double ms =
      steady
          ? std::chrono::duration<double, std::milli>(*to.steady_time - *from.steady_time).count()
          : static_cast<double>(to.timestamp_ms - from.timestamp_ms);
  return std::max(ms, 0.0);
}

/// Fills `step_ms`; false when a measured point has no steady stamp.
bool MeasureSteps(const std::vector<const TracePoint*>& first_seen, double* step_ms, size_t steps,
                  bool steady) {
  // Read from the recordings themselves: no walk of the queue.
  for (size_t step = 0; step < steps; ++step) {
    step_ms[step] = -1.0;
    if (step + 1 >= first_seen.size()) {
      continue;
    }
    const TracePoint* earlier = first_seen[step];
    const TracePoint* later = first_seen[step + 1];
    if (earlier != nullptr && later != nullptr && earlier->index < later->index) {
      if (steady && !(earlier->steady_time && later->steady_time)) {
        return false;
      }
      step_ms[step] = Between(*earlier, *later, steady);
    }
  }
  return true;
}

}  // namespace

RunTiming MeasureRun(const std::deque<std::shared_ptr<TracePoint>>& queue,
                     const std::vector<const TracePoint*>& first_seen, double* step_ms,
                     size_t steps) {
  RunTiming timing;
  if (queue.empty()) {
    return timing;
  }
  // Only the points measured need a steady stamp; without, every stamp of the
  // run is a wall stamp, trusted only while they keep their order.
  timing.steady = queue.front()->steady_time && queue.back()->steady_time &&
                  MeasureSteps(first_seen, step_ms, steps, true);
  if (!timing.steady) {
    for (size_t i = 1; i < queue.size(); ++i) {
      if (queue[i]->timestamp_ms < queue[i - 1]->timestamp_ms) {
        return timing;
      }
    }
    MeasureSteps(first_seen, step_ms, steps, false);
  }
  timing.measured = true;
  timing.duration_ms = Between(*queue.front(), *queue.back(), timing.steady);
  return timing;
}

}  // namespace detail
}  // namespace trace
}  // namespace kestrune
