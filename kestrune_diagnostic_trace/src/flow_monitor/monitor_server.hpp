#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_SERVER_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_SERVER_HPP_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "flow_model.hpp"

namespace httplib {
class Server;
}  // namespace httplib

namespace kestrune {
namespace monitor {

struct ServerOptions {
  std::string bind{"127.0.0.1"};
  /// 0 picks a free port (tests).
  int port{8080};
  /// Live pages (event streams) served at once; more are refused with 503.
  size_t max_clients{8};
  /// Shortest gap between two updates pushed to one page.
  std::chrono::milliseconds min_update_gap{100};
};

/// The monitor's HTTP side: the compiled-in page, GET /api/flows (the whole
/// state as JSON) and GET /api/stream (server-sent events, each a FlowsJson
/// body of the flows changed since the last one, the first one full).
///
/// Read-only: any method but GET and HEAD gets 405, any other path 404, any
/// request body 413 (400 when its length is malformed). The server runs in its own threads from
/// construction to Stop() or destruction; `model` must outlive it.
class MonitorServer {
 public:
  /// Binds and starts serving; throws std::runtime_error naming the address
  /// when it cannot listen there.
  MonitorServer(FlowModel& model, ServerOptions options);
  ~MonitorServer();

  MonitorServer(const MonitorServer&) = delete;
  MonitorServer& operator=(const MonitorServer&) = delete;

  /// The port listened on (the one chosen when options asked for 0).
  int port() const { return port_; }

  /// Ends every stream, stops listening and joins the server's threads. Idempotent.
  void Stop();

  /// Event streams open now.
  size_t clients() const { return clients_.load(); }

 private:
  void Route();

  FlowModel& model_;
  const ServerOptions options_;
  std::unique_ptr<httplib::Server> server_;
  int port_{0};
  std::thread thread_;
  std::atomic<bool> listen_returned_{false};
  std::atomic<size_t> clients_{0};
  std::atomic<bool> stopping_{false};
  std::mutex stop_mutex_;
  std::condition_variable stop_cv_;
};

}  // namespace monitor
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_SERVER_HPP_
