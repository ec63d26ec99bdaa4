// flow_monitor: a live page of the robot's flows, fed from /diagnostics and
// the flows' event topics, served over HTTP, and a record of what it saw.
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include <rclcpp/rclcpp.hpp>

#include "flow_model.hpp"
#include "flow_record.hpp"
#include "kestrune_diagnostic_trace/flow_config.hpp"
#include "monitor_config.hpp"
#include "monitor_node.hpp"
#include "monitor_options.hpp"
#include "monitor_server.hpp"

namespace {

/// A wrong command line, or a flow file that cannot be used at all.
constexpr int kUsageError = 2;

/// Applies the STALE rule every second while it lives: without a page
/// polling, nothing else would, and the record must still say when a flow
/// went quiet.
class StaleWatch {
 public:
  explicit StaleWatch(kestrune::monitor::FlowModel& model)
      : thread_([this, &model] {
          std::unique_lock<std::mutex> lock(mutex_);
          while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) {
            lock.unlock();
            model.ApplyStale();
            lock.lock();
          }
        }) {}
  ~StaleWatch() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  StaleWatch(const StaleWatch&) = delete;
  StaleWatch& operator=(const StaleWatch&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_{false};
  std::thread thread_;
};

}  // namespace

// A record shown as it was at its end: no robot is listened to, and the
// program serves until SIGINT or SIGTERM.
int ServeReplay(const kestrune::monitor::MonitorOptions& options,
                const kestrune::trace::ParsedFlowConfig& config) {
  using kestrune::monitor::SteadyClock;
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  // Blocked before the server's thread starts, so that it inherits the mask
  // and the signals reach sigwait below.
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  std::ifstream file(options.replay_path);
  if (!file.is_open()) {
    throw std::runtime_error("cannot read the record '" + options.replay_path + "'");
  }
  double time = 0.0;
  kestrune::monitor::FlowModel model(config, {}, [&time] {
    return SteadyClock::time_point(
        std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(time)));
  });
  const auto result =
      kestrune::monitor::ReplayRecord(file, model, [&time](double at) { time = at; });
  std::cout << "flow_monitor: replayed " << result.lines << " lines of " << options.replay_path
            << std::endl;
  if (result.skipped != 0) {
    std::cerr << "flow_monitor: " << result.skipped << " lines skipped, the first at "
              << result.first_problem << "\n";
  }
  kestrune::monitor::MonitorServer server(model, options.server);
  std::cout << "flow_monitor: serving http://" << options.server.bind << ":" << server.port()
            << "/ (a record)" << std::endl;
  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  return EXIT_SUCCESS;
}

int main(int argc, char** argv) {
  using kestrune::monitor::MonitorOptions;
  MonitorOptions options;
  try {
    options = MonitorOptions::parse(argc, argv);
  } catch (const std::invalid_argument& error) {
    std::cerr << "flow_monitor: " << error.what() << "\n" << MonitorOptions::kUsage;
    return kUsageError;
  }
  if (options.help) {
    std::cout << MonitorOptions::kUsage;
    return EXIT_SUCCESS;
  }
  // A record that reaches a file-size limit must fail its write, not end the program.
  std::signal(SIGXFSZ, SIG_IGN);

  kestrune::trace::ParsedFlowConfig config;
  try {
    config = kestrune::monitor::LoadMonitorConfig(options.config_path, std::cerr);
  } catch (const kestrune::monitor::ConfigFileError& error) {
    std::cerr << "flow_monitor: " << error.what();
    return kUsageError;
  }
  try {
    if (!options.replay_path.empty()) {
      return ServeReplay(options, config);
    }
    kestrune::monitor::FlowModel model(config);
    model.SetNotice(
        [](const std::string& notice) { std::cerr << "flow_monitor: " << notice << std::endl; });
    std::unique_ptr<kestrune::monitor::FlowRecorder> recorder;
    if (!options.record.path.empty()) {
      recorder = std::make_unique<kestrune::monitor::FlowRecorder>(
          options.record, [](const std::string& problem) {
            std::cerr << "flow_monitor: " << problem << std::endl;
          });
      model.SetObserver(
          [&recorder](const kestrune::monitor::ModelRecord& record) { recorder->Record(record); });
      std::cout << "flow_monitor: recording to " << options.record.path << " (rotated at "
                << options.record.max_bytes / (1024 * 1024) << " MiB, " << options.record.keep
                << " old files kept)" << std::endl;
    }
    rclcpp::init(argc, argv);
    kestrune::monitor::MonitorNode node(model, config);
    std::optional<StaleWatch> stale_watch;
    if (recorder) {
      stale_watch.emplace(model);
    }
    std::unique_ptr<kestrune::monitor::MonitorServer> server;
    if (options.serve) {
      server = std::make_unique<kestrune::monitor::MonitorServer>(model, options.server);
      std::cout << "flow_monitor: serving http://" << options.server.bind << ":" << server->port()
                << "/ (" << config.flows.size() << " configured flows)" << std::endl;
    } else {
      std::cout << "flow_monitor: serving no page (" << config.flows.size() << " configured flows)"
                << std::endl;
    }
    rclcpp::spin(node.node());
    if (server) {
      server->Stop();
    }
    rclcpp::shutdown();
  } catch (const std::exception& error) {
    std::cerr << "flow_monitor: " << error.what() << "\n";
    rclcpp::shutdown();
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
