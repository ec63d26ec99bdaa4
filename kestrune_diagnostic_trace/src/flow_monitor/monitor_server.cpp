#include "monitor_server.hpp"

#include <httplib.h>
#include <sys/socket.h>

#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "flow_json.hpp"
#include "page_assets.hpp"

namespace kestrune {
namespace monitor {

namespace {

// Threads beyond the stream limit, so that a refusal, the page and
// /api/flows are still answered while every stream slot is taken.
constexpr size_t kSpareThreads = 4;
// A stream writes at least this often, so that a page that went away frees its slot soon.
constexpr std::chrono::milliseconds kKeepAliveGap{500};

// script-src 'self' keeps any markup that slipped into the page from running
// script, inline handlers included.
const httplib::Headers kSecurityHeaders = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
     "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"}};

void Plain(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

}  // namespace

MonitorServer::MonitorServer(FlowModel& model, ServerOptions options)
    : model_(model), options_(std::move(options)), server_(std::make_unique<httplib::Server>()) {
  const size_t threads = options_.max_clients + kSpareThreads;
  // httplib takes ownership of the queue it is handed.
  server_->new_task_queue = [threads] {
    return std::make_unique<httplib::ThreadPool>(threads).release();
  };
  server_->set_read_timeout(5, 0);
  server_->set_keep_alive_timeout(1);
  server_->set_default_headers(kSecurityHeaders);
  // httplib's default is SO_REUSEPORT, which lets a second server share the
  // port and take a share of the connections; a port taken must be an error.
  server_->set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
  Route();

  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(options_.bind);
  } else if (server_->bind_to_port(options_.bind, options_.port)) {
    port_ = options_.port;
  }
  if (port_ <= 0) {
    throw std::runtime_error("cannot listen on " + options_.bind + ":" +
                             std::to_string(options_.port) +
                             " (address not local, port in use or not allowed)");
  }
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    listen_returned_ = true;
  });
  // httplib's stop() does nothing before its loop runs, so a Stop() coming
  // first would leave the loop running and the join waiting forever.
  while (!server_->is_running() && !listen_returned_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (listen_returned_) {
    thread_.join();
    throw std::runtime_error("cannot serve on " + options_.bind + ":" + std::to_string(port_));
  }
}

MonitorServer::~MonitorServer() {
  Stop();
}

void MonitorServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stopping_ = true;
  }
  stop_cv_.notify_all();
  model_.Wake();
  server_->stop();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void MonitorServer::Route() {
  server_->Get("/api/flows", [this](const httplib::Request&, httplib::Response& res) {
    auto changes = model_.Changes(0);
    res.set_content(FlowsJson(changes.first, changes.second, true), "application/json");
  });

  server_->Get("/api/stream", [this](const httplib::Request&, httplib::Response& res) {
    if (clients_.fetch_add(1) >= options_.max_clients) {
      --clients_;
      res.set_header("Retry-After", "5");
      Plain(res, 503,
            "too many clients: this monitor serves " + std::to_string(options_.max_clients) +
                " live pages at once; close one or start it with a higher --max-clients");
      return;
    }
    struct Stream {
      bool sent_any{false};
      uint64_t since{0};
      SteadyClock::time_point last_sent{};
    };
    auto stream = std::make_shared<Stream>();
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, stream](size_t, httplib::DataSink& sink) {
          {
            std::unique_lock<std::mutex> lock(stop_mutex_);
            stop_cv_.wait_until(lock, stream->last_sent + options_.min_update_gap,
                                [this] { return stopping_.load(); });
          }
          const uint64_t version = model_.WaitForChange(stream->sent_any ? stream->since : 0,
                                                        SteadyClock::now() + kKeepAliveGap,
                                                        [this] { return stopping_.load(); });
          if (stopping_) {
            return false;
          }
          std::string chunk = ": keep-alive\n\n";
          if (!stream->sent_any || version > stream->since) {
            auto changes = model_.Changes(stream->since);
            chunk = "data: " + FlowsJson(changes.first, changes.second, !stream->sent_any) + "\n\n";
            stream->since = changes.second;
            stream->sent_any = true;
            stream->last_sent = SteadyClock::now();
          }
          return sink.write(chunk.data(), chunk.size());
        },
        [this](bool) { --clients_; });
  });

  server_->Get(".*", [](const httplib::Request& req, httplib::Response& res) {
    for (const PageAsset& asset : PageAssets()) {
      if (asset.path == req.path) {
        res.set_content(asset.body, asset.content_type);
        return;
      }
    }
    Plain(res, 404, "not found: this monitor serves /, /api/flows and /api/stream");
  });

  // Before routing, so that no request body is ever read: GET and HEAD take
  // none, and httplib would leave an unread one to be parsed as the next request.
  server_->set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.method != "GET" && req.method != "HEAD") {
      res.set_header("Allow", "GET, HEAD");
      Plain(res, 405, "method not allowed: this monitor is read-only");
    } else if (req.has_header("Transfer-Encoding")) {
      Plain(res, 400, "bad request: this monitor takes no request body");
    } else if (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0") {
      const std::string length = req.get_header_value("Content-Length");
      const bool number = !length.empty() && length.size() < 20 &&
                          length.find_first_not_of("0123456789") == std::string::npos;
      Plain(res, number ? 413 : 400,
            number ? "payload too large: this monitor takes no request body"
                   : "bad request: Content-Length '" + length + "' is not a length");
    } else {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    res.set_header("Connection", "close");
    return httplib::Server::HandlerResponse::Handled;
  });
}

}  // namespace monitor
}  // namespace kestrune
