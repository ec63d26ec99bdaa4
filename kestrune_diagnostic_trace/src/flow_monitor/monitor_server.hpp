#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_SERVER_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_SERVER_HPP_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "flow_model.hpp"

namespace kestrune {
namespace monitor {

struct ServerOptions {
  std::string bind{"127.0.0.1"};
  /// 0 picks a free port (tests).
  int port{8080};
  /// Connections open at once. When all are taken, a new one closes the
  /// connection that has waited longest for its request, so that clients
  /// holding connections idle cannot lock everyone else out.
  size_t max_connections{256};
  /// The whole request line and headers must arrive within this time of the
  /// connection opening or the previous response; the same bounds a response's write.
  std::chrono::milliseconds request_timeout{5000};
  /// Bytes of request line and headers, and header fields, taken in one request.
  size_t header_bytes{8192};
  size_t header_fields{64};
};

/// The monitor's HTTP side: the compiled-in page and GET /api/flows (the
/// whole state as JSON, or with `?since=N` the flows changed since version N).
///
/// One I/O thread serves every connection, event-driven: no client, however
/// slow, holds a thread. Read-only: any method but GET and HEAD gets 405, any
/// other path 404, a request body 400, headers over the limits 431; after an
/// error the connection is closed. Pipelined requests are answered in order.
///
/// Runs from construction to Stop() or destruction; `model` must outlive it.
/// Stop() and port() may be called from any thread.
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

  /// Closes every connection, stops listening and joins the I/O thread. Idempotent.
  void Stop();

  /// Connections open now.
  size_t connections() const { return connections_.load(); }

 private:
  class Impl;
  /// Before impl_, which counts into it until it is gone.
  std::atomic<size_t> connections_{0};
  std::unique_ptr<Impl> impl_;
  int port_{0};
  std::thread thread_;
};

}  // namespace monitor
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__MONITOR_SERVER_HPP_
