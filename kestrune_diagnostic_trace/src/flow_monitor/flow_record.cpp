#include "flow_record.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

#include "kestrune_diagnostic_trace/flow_report.hpp"

namespace kestrune {
namespace monitor {

namespace {

namespace report = trace::report;
// Keys keep their order, so a replayed status has its values as they came.
using json = nlohmann::ordered_json;

// A file that cannot be opened is tried again this often, not at every line.
constexpr std::chrono::seconds kReopenGap{1};

json StatusFields(const StatusReport& status) {
  json values = json::object();
  for (const auto& [key, value] : status.values) {
    values[key] = value;
  }
  return {{"level", LevelWord(status.level)},
          {"name", status.name},
          {"hardware_id", status.hardware_id},
          {"message", status.message},
          {"values", std::move(values)}};
}

json EventFields(const EventReport& event) {
  json fields = {
      {"stamp_sec", event.stamp_sec}, {"stamp_nanosec", event.stamp_nanosec}, {"id", event.id},
      {"status", event.status},       {"point_id", event.point_id},           {"msg", event.msg}};
  if (event.kind == static_cast<uint8_t>(report::EventKind::kVerdict)) {
    fields["verdict"] = report::VerdictName(event.verdict);
  }
  if (event.duration_ms != 0) {
    fields["duration_ms"] = event.duration_ms;
  }
  return fields;
}

StatusReport StatusOf(const json& fields) {
  StatusReport status;
  status.level = LevelValue(fields.at("level").get<std::string>());
  status.name = fields.at("name").get<std::string>();
  status.hardware_id = fields.at("hardware_id").get<std::string>();
  status.message = fields.at("message").get<std::string>();
  for (const auto& [key, value] : fields.at("values").items()) {
    status.values.emplace_back(key, value.get<std::string>());
  }
  return status;
}

EventReport EventOf(const json& line) {
  const json& fields = line.at("fields");
  EventReport event;
  event.source_id = line.at("flow").get<std::string>();
  const auto kind = report::EventKindFromWord(line.at("kind").get<std::string>());
  if (!kind) {
    throw std::invalid_argument("unknown kind '" + line.at("kind").get<std::string>() + "'");
  }
  event.kind = static_cast<uint8_t>(*kind);
  event.stamp_sec = fields.at("stamp_sec").get<int32_t>();
  event.stamp_nanosec = fields.at("stamp_nanosec").get<uint32_t>();
  event.id = fields.at("id").get<uint32_t>();
  event.status = fields.at("status").get<uint8_t>();
  event.point_id = fields.at("point_id").get<std::string>();
  event.msg = fields.at("msg").get<std::string>();
  if (fields.contains("verdict")) {
    const auto verdict = report::VerdictFromName(fields.at("verdict").get<std::string>());
    event.verdict = static_cast<uint8_t>(verdict.value_or(trace::FlowCheckStatus::FAILED));
  }
  event.duration_ms = fields.value("duration_ms", uint64_t{0});
  return event;
}

}  // namespace

std::string RecordLine(double time, const ModelRecord& record) {
  json line = {{"time", time}, {"node", record.node}, {"flow", record.flow_id}};
  switch (record.type) {
    case ModelRecord::Type::kEvent:
      line["kind"] = report::EventKindWord(record.event.kind);
      line["fields"] = EventFields(record.event);
      break;
    case ModelRecord::Type::kLevel:
      line["kind"] = "level";
      line["fields"] = StatusFields(record.status);
      break;
    case ModelRecord::Type::kStale:
      // The monitor's own finding: a replay finds it again from the times.
      line["kind"] = "stale";
      line["fields"] = {{"level", "STALE"}, {"message", record.status.message}};
      break;
    case ModelRecord::Type::kVerdict: {
      line["kind"] = "verdict";
      json fields = StatusFields(record.status);
      fields["source"] = "diagnostics";
      line["fields"] = std::move(fields);
      break;
    }
  }
  return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

double FlowRecorder::SystemSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

FlowRecorder::FlowRecorder(RecordOptions options, Report report, WallClock clock)
    : options_(std::move(options)), report_(std::move(report)), clock_(std::move(clock)) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string problem = OpenLocked();
  if (!problem.empty()) {
    throw std::runtime_error(problem);
  }
}

FlowRecorder::~FlowRecorder() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
}

std::string FlowRecorder::OpenLocked() {
  const auto now = std::chrono::steady_clock::now();
  if (now < next_open_) {
    return "the record '" + options_.path + "' could not be opened a moment ago";
  }
  fd_ = ::open(options_.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
    const std::string why = std::strerror(errno);
    CloseLocked();
    next_open_ = now + kReopenGap;
    return "cannot open the record '" + options_.path + "': " + why;
  }
  size_ = static_cast<uint64_t>(info.st_size);
  return {};
}

void FlowRecorder::CloseLocked() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void FlowRecorder::RotateLocked() {
  CloseLocked();
  const std::string& path = options_.path;
  if (options_.keep == 0) {
    ::unlink(path.c_str());
  } else {
    for (unsigned i = options_.keep; i > 1; --i) {
      ::rename((path + "." + std::to_string(i - 1)).c_str(),
               (path + "." + std::to_string(i)).c_str());
    }
    ::rename(path.c_str(), (path + ".1").c_str());
  }
  // The write that follows opens the new file, and reports when it cannot.
  partial_ = false;
}

void FlowRecorder::Record(const ModelRecord& record) {
  std::string line = RecordLine(clock_(), record);
  line += '\n';
  std::lock_guard<std::mutex> lock(mutex_);
  WriteLocked(line);
}

void FlowRecorder::WriteLocked(const std::string& line) {
  struct stat info {};
  // A record removed under a running monitor (a clean-up, a rotation by
  // hand) is written anew rather than into a file no one can see.
  if (fd_ >= 0 && ::fstat(fd_, &info) == 0 && info.st_nlink == 0) {
    CloseLocked();
    report_("the record '" + options_.path + "' was removed; writing a new one");
  }
  if (fd_ >= 0 && size_ != 0 && size_ + line.size() > options_.max_bytes) {
    RotateLocked();
  }
  if (fd_ < 0) {
    const std::string problem = OpenLocked();
    if (!problem.empty()) {
      ++dropped_;
      if (lost_++ == 0) {
        report_(problem + "; lines are dropped until it can be written");
      }
      return;
    }
  }
  const std::string bytes = partial_ ? "\n" + line : line;
  const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
  if (n == static_cast<ssize_t>(bytes.size())) {
    size_ += bytes.size();
    ++written_;
    partial_ = false;
    if (lost_ != 0) {
      report_("writing the record '" + options_.path + "' again; " + std::to_string(lost_) +
              " lines were lost");
      lost_ = 0;
    }
    return;
  }
  const std::string why = n < 0 ? std::strerror(errno) : "short write";
  if (n > 0) {
    size_ += static_cast<uint64_t>(n);
    partial_ = true;
  }
  ++dropped_;
  if (lost_++ == 0) {
    report_("cannot write the record '" + options_.path + "': " + why +
            "; lines are dropped until it can be written again");
  }
}

uint64_t FlowRecorder::written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

uint64_t FlowRecorder::dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

ReplayResult ReplayRecord(std::istream& record, FlowModel& model,
                          const std::function<void(double)>& set_time) {
  ReplayResult result;
  std::string text;
  uint64_t number = 0;
  while (std::getline(record, text)) {
    ++number;
    if (text.empty()) {
      continue;
    }
    try {
      const json line = json::parse(text);
      const std::string kind = line.at("kind").get<std::string>();
      set_time(line.at("time").get<double>());
      if (kind == "stale") {
        // The replay's clock makes the card STALE by itself.
      } else if (kind == "level" || (kind == "verdict" && line.at("fields").contains("source"))) {
        model.AddStatus(StatusOf(line.at("fields")));
      } else {
        model.AddEvent(EventOf(line));
      }
      ++result.lines;
    } catch (const std::exception& error) {
      if (result.skipped++ == 0) {
        result.first_problem = "line " + std::to_string(number) + ": " + error.what();
      }
    }
  }
  return result;
}

}  // namespace monitor
}  // namespace kestrune
