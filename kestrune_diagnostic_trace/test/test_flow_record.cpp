// The monitor's record: its lines, rotation, a file removed or filled under
// it, and a replay that gives back the cards.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "flow_json.hpp"
#include "flow_model.hpp"
#include "flow_record.hpp"
#include "support/monitor.hpp"

namespace {

using kestrune::monitor::FlowModel;
using kestrune::monitor::FlowRecorder;
using kestrune::monitor::ModelRecord;
using kestrune::monitor::RecordOptions;
using kestrune::trace::FlowCheckStatus;
using Kind = kestrune::trace::report::EventKind;
using kestrune_test::FlowEvent;
using kestrune_test::FlowStatus;
using kestrune_test::KindEvent;
using kestrune_test::ManualClock;
using kestrune_test::MonitorConfig;
using kestrune_test::VerdictEvent;
using nlohmann::json;

/// A folder of its own for each test's record files, removed afterwards.
class FlowRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrune_record_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/night.jsonl";
  }
  void TearDown() override {
    for (const std::string suffix : {"", ".1", ".2", ".3"}) {
      std::remove((path_ + suffix).c_str());
    }
    rmdir(dir_.c_str());
  }

  std::unique_ptr<FlowRecorder> Recorder(RecordOptions options = {},
                                         FlowRecorder::WallClock wall = {}) {
    options.path = path_;
    if (!wall) {
      wall = [this] { return wall_; };
    }
    return std::make_unique<FlowRecorder>(
        options, [this](const std::string& problem) { reports_.push_back(problem); }, wall);
  }

  static std::vector<std::string> Lines(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  /// A model whose records go to `recorder`, on `clock`.
  static std::unique_ptr<FlowModel> RecordedModel(FlowRecorder& recorder, ManualClock& clock) {
    auto model = std::make_unique<FlowModel>(MonitorConfig(), kestrune::monitor::ModelLimits{},
                                             clock.function());
    model->SetObserver([&recorder](const ModelRecord& record) { recorder.Record(record); });
    return model;
  }

  std::string dir_;
  std::string path_;
  double wall_{1765000000.25};
  std::vector<std::string> reports_;
};

/// Feeds what a night on the robot looks like: levels, every kind of event,
/// and runs of a flow only known from its counters.
void FeedNight(FlowModel& model, ManualClock& clock) {
  const auto step = [&clock] { clock.now += std::chrono::milliseconds(700); };
  model.AddStatus(FlowStatus("arm", "pick", 0, {{"state", "idle"}}));
  model.AddStatus(FlowStatus("base", "learned", 0, {{"runs checked", "4"}, {"runs failed", "1"}}));
  step();
  model.AddEvent(FlowEvent("pick", 11, 0, "Status OK: open"));
  model.AddEvent(KindEvent("pick", 13, Kind::kTimeout, 1, "grasp"));
  model.AddStatus(FlowStatus("arm", "pick", 1, {{"state", "running"}}));
  step();
  model.AddEvent(KindEvent("pick", 10, Kind::kStall, 1, "grasp"));
  model.AddEvent(VerdictEvent("pick", 10, FlowCheckStatus::MISSING_POINT, "open", 2100));
  model.AddEvent(KindEvent("pick", 10, Kind::kOverBudget, 1, ""));
  model.AddStatus(FlowStatus("arm", "pick", 2, {{"state", "idle"}, {"next expected point", "a"}}));
  model.AddStatus(FlowStatus("base", "learned", 0,
                             {{"runs checked", "6"},
                              {"runs failed", "2"},
                              {"last verdict", "FAILED"},
                              {"last run duration", "3.10 s"}}));
  step();
  model.AddEvent(FlowEvent("dock", 11, 0, "Status OK: approach"));
  // Everything goes quiet: the cards go STALE.
  clock.now += std::chrono::seconds(30);
  model.AddEvent(FlowEvent("dock", 12, 1, "Status Failed: latch"));
}

TEST_F(FlowRecordTest, every_event_level_change_and_verdict_is_one_line_of_its_kind) {
  auto recorder = Recorder();
  ManualClock clock;
  auto model = RecordedModel(*recorder, clock);
  FeedNight(*model, clock);
  // Flows that reported and went quiet are recorded going STALE, once.
  model->ApplyStale();
  model->ApplyStale();

  std::multiset<std::string> kinds;
  for (const std::string& text : Lines(path_)) {
    const json line = json::parse(text);
    EXPECT_DOUBLE_EQ(line["time"].get<double>(), wall_);
    for (const char* key : {"node", "flow", "kind", "fields"}) {
      EXPECT_TRUE(line.contains(key)) << key << " in " << text;
    }
    kinds.insert(line["kind"].get<std::string>() +
                 (line["fields"].contains("source") ? " (counters)" : ""));
    if (line["kind"] == "verdict" && !line["fields"].contains("source")) {
      EXPECT_EQ(line["fields"]["verdict"], "MISSING_POINT");
      EXPECT_EQ(line["fields"]["duration_ms"], 2100);
      EXPECT_EQ(line["node"], "arm");
    }
  }
  EXPECT_EQ(kinds, (std::multiset<std::string>{
                       "level", "level", "level", "level", "point", "timeout", "stall", "verdict",
                       "over budget", "verdict (counters)", "point", "point", "stale", "stale"}));
  EXPECT_EQ(recorder->dropped(), 0U);
  EXPECT_TRUE(reports_.empty());
}

TEST_F(FlowRecordTest, a_replay_on_the_records_own_clock_gives_the_same_cards) {
  ManualClock clock;
  // Lines are stamped with the monitor's time, here the model's own clock.
  auto recorder = Recorder(
      {}, [&clock] { return std::chrono::duration<double>(clock.now.time_since_epoch()).count(); });
  auto model = RecordedModel(*recorder, clock);
  FeedNight(*model, clock);
  const auto cards = [](FlowModel& from) {
    auto changes = from.Changes(0);
    json body = json::parse(kestrune::monitor::FlowsJson(changes.first, 0, true));
    for (auto& flow : body["flows"]) {
      flow.erase("version");
    }
    return body;
  };
  const json live = cards(*model);
  recorder.reset();

  std::ifstream file(path_);
  double time = 0;
  FlowModel replayed(MonitorConfig(), {}, [&time] {
    return kestrune::monitor::SteadyClock::time_point(
        std::chrono::duration_cast<kestrune::monitor::SteadyClock::duration>(
            std::chrono::duration<double>(time)));
  });
  const auto result =
      kestrune::monitor::ReplayRecord(file, replayed, [&time](double at) { time = at; });
  EXPECT_EQ(result.skipped, 0U) << result.first_problem;
  EXPECT_EQ(result.lines, Lines(path_).size());
  EXPECT_EQ(cards(replayed).dump(1), live.dump(1));
}

TEST_F(FlowRecordTest, rotation_keeps_whole_lines_and_a_bounded_number_of_old_files) {
  RecordOptions options;
  options.max_bytes = 2000;
  options.keep = 2;
  auto recorder = Recorder(options);
  ModelRecord record;
  record.flow_id = "pick";
  record.event = FlowEvent("pick", 11, 0, std::string(200, 'x'));
  for (int i = 0; i < 100; ++i) {
    recorder->Record(record);
  }
  for (const std::string suffix : {"", ".1", ".2"}) {
    const auto lines = Lines(path_ + suffix);
    EXPECT_FALSE(lines.empty()) << suffix;
    std::ifstream file(path_ + suffix, std::ios::ate);
    EXPECT_LE(static_cast<uint64_t>(file.tellg()), options.max_bytes) << suffix;
    for (const auto& line : lines) {
      EXPECT_NO_THROW(json::parse(line)) << suffix;
    }
  }
  EXPECT_FALSE(std::ifstream(path_ + ".3").is_open());
  EXPECT_EQ(recorder->written(), 100U);
}

TEST_F(FlowRecordTest, a_removed_file_is_written_anew_and_said_once) {
  auto recorder = Recorder();
  ModelRecord record;
  record.event = FlowEvent("pick", 11, 0, "Status OK: open");
  recorder->Record(record);
  ASSERT_EQ(std::remove(path_.c_str()), 0);
  recorder->Record(record);
  recorder->Record(record);
  EXPECT_EQ(Lines(path_).size(), 2U);
  ASSERT_EQ(reports_.size(), 1U);
  EXPECT_NE(reports_[0].find("was removed"), std::string::npos) << reports_[0];
}

// A file-size limit fails writes as a full disk does: lines are dropped and
// counted, the monitor goes on, and writing resumes when there is room.
TEST_F(FlowRecordTest, a_full_disk_drops_lines_says_so_and_resumes) {
  const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  rlimit limited = previous;
  limited.rlim_cur = 1000;

  auto recorder = Recorder();
  ModelRecord record;
  record.event = FlowEvent("pick", 11, 0, std::string(150, 'y'));
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  for (int i = 0; i < 20; ++i) {
    recorder->Record(record);
  }
  setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, previous_handler);
  EXPECT_GT(recorder->dropped(), 0U);
  const uint64_t dropped = recorder->dropped();
  recorder->Record(record);
  EXPECT_EQ(recorder->dropped(), dropped);

  ASSERT_EQ(reports_.size(), 2U);
  EXPECT_NE(reports_[0].find("cannot write the record"), std::string::npos) << reports_[0];
  EXPECT_NE(reports_[1].find(std::to_string(dropped) + " lines were lost"), std::string::npos)
      << reports_[1];
  // A line cut short by the limit stands alone; every other line reads back.
  const auto lines = Lines(path_);
  size_t whole = 0;
  for (const auto& line : lines) {
    whole += json::accept(line) ? 1 : 0;
  }
  EXPECT_EQ(whole, recorder->written());
  EXPECT_LE(lines.size() - whole, 1U);
}

}  // namespace
