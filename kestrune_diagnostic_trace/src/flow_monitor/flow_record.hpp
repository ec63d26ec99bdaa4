#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__FLOW_RECORD_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__FLOW_RECORD_HPP_

#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <mutex>
#include <string>

#include "flow_model.hpp"

namespace kestrune {
namespace monitor {

struct RecordOptions {
  std::string path;
  /// The file is rotated before a line would take it past this size.
  uint64_t max_bytes{64ULL * 1024 * 1024};
  /// Old files kept beside it: FILE.1 (the newest) to FILE.<keep>.
  unsigned keep{4};
};

/// The record line of `record`, taken at `time` (seconds since the epoch),
/// without its newline: {"time", "node", "flow", "kind", "fields"}. `kind` is
/// an event's kind word ("point", "timeout", "verdict", "stall", "over
/// budget"), "level" for a level change, "stale" when no update came for the
/// STALE time, or "verdict" with fields.source "diagnostics" for a run counted
/// on /diagnostics.
std::string RecordLine(double time, const ModelRecord& record);

/// Appends what the model sees to a file, one JSON line each.
///
/// Never stops the monitor: a file removed under it is created anew, a full
/// disk or a file-size limit drops lines until writing works again, and each
/// of these is reported once through `report`, with the count of lines lost.
/// Thread-safe; `report` runs under its mutex.
class FlowRecorder {
 public:
  using Report = std::function<void(const std::string&)>;
  /// Seconds since the epoch; tests inject their own.
  using WallClock = std::function<double()>;

  /// Opens (or creates) the file; throws std::runtime_error naming it and why
  /// when it cannot, so that a wrong path is refused at start. Later failures
  /// are survived as described above.
  FlowRecorder(RecordOptions options, Report report, WallClock clock = SystemSeconds);
  ~FlowRecorder();

  FlowRecorder(const FlowRecorder&) = delete;
  FlowRecorder& operator=(const FlowRecorder&) = delete;

  void Record(const ModelRecord& record);

  uint64_t written() const;
  uint64_t dropped() const;

  static double SystemSeconds();

 private:
  /// Opens the file; the problem when it cannot, empty when it did.
  std::string OpenLocked();
  void CloseLocked();
  void RotateLocked();
  void WriteLocked(const std::string& line);

  const RecordOptions options_;
  const Report report_;
  const WallClock clock_;
  mutable std::mutex mutex_;
  int fd_{-1};
  uint64_t size_{0};
  uint64_t written_{0};
  uint64_t dropped_{0};
  /// Lines lost since writing last failed; 0 while it works.
  uint64_t lost_{0};
  /// A line was cut short by a failed write: the next one starts on a line of its own.
  bool partial_{false};
  std::chrono::steady_clock::time_point next_open_{};
};

/// What a replay did.
struct ReplayResult {
  uint64_t lines{0};
  /// Lines that were not record lines (a line cut short by a full disk), skipped.
  uint64_t skipped{0};
  /// The first of them, as "line N: why".
  std::string first_problem;
};

/// Feeds the lines of a record to `model` in order, calling `set_time` with
/// each line's time before it: a model whose clock reads that time shows the
/// cards as they were when the record was written.
ReplayResult ReplayRecord(std::istream& record, FlowModel& model,
                          const std::function<void(double)>& set_time);

}  // namespace monitor
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__FLOW_RECORD_HPP_
