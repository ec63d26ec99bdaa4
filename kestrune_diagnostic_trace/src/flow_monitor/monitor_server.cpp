#include "monitor_server.hpp"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>

#include <array>
#include <list>
#include <optional>
#include <stdexcept>
#include <utility>

#include "flow_json.hpp"
#include "page_assets.hpp"

namespace kestrune {
namespace monitor {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

// script-src 'self' keeps any markup that slipped into the page from running
// script, inline handlers included.
constexpr char kSecurityHeaders[] =
    "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
    "connect-src 'self'; img-src 'self'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Cache-Control: no-store\r\n";

// After an error response, what the client still sends is read and dropped
// for this long, so that closing does not reset the connection before the
// client has read why.
constexpr std::chrono::milliseconds kLingerTime{1000};
constexpr size_t kLingerBytes = 1024 * 1024;

/// What the monitor needs of a request: its line and the fields that decide
/// framing. Fields are counted and checked as they arrive, never stored.
class RequestHead : public http::basic_parser<true> {
 public:
  explicit RequestHead(size_t max_fields) : max_fields_(max_fields) {}

  http::verb method{http::verb::unknown};
  /// The request line arrived whole: a limit hit after it is the headers'.
  bool has_request_line{false};
  std::string target;
  int version{11};
  bool close{false};
  bool keep_alive{false};
  bool has_body{false};
  /// Why the framing is refused; empty when it is sound.
  std::string framing_error;
  bool too_many_fields{false};

 private:
  void on_request_impl(http::verb verb, beast::string_view, beast::string_view request_target,
                       int http_version, error_code&) override {
    method = verb;
    has_request_line = true;
    target.assign(request_target.data(), request_target.size());
    version = http_version;
  }
  void on_response_impl(int, beast::string_view, int, error_code&) override {}

  void on_field_impl(http::field name, beast::string_view, beast::string_view value,
                     error_code& ec) override {
    if (++fields_ > max_fields_) {
      too_many_fields = true;
      ec = http::error::header_limit;
      return;
    }
    if (name == http::field::content_length) {
      // One body-framing rule: one Content-Length with one value. A list or a
      // second field, even an equal one, is how requests get smuggled.
      if (++content_lengths_ > 1 || value.find(',') != beast::string_view::npos) {
        framing_error = "more than one Content-Length";
        ec = http::error::bad_content_length;
        return;
      }
      has_body = has_body || value != "0";
    } else if (name == http::field::transfer_encoding) {
      has_body = true;
    } else if (name == http::field::connection) {
      close = close || beast::iequals(value, "close");
      keep_alive = keep_alive || beast::iequals(value, "keep-alive");
    }
  }

  void on_header_impl(error_code&) override {}
  void on_body_init_impl(const boost::optional<std::uint64_t>&, error_code&) override {}
  size_t on_body_impl(beast::string_view body, error_code&) override { return body.size(); }
  void on_chunk_header_impl(std::uint64_t, beast::string_view, error_code&) override {}
  size_t on_chunk_body_impl(std::uint64_t, beast::string_view body, error_code&) override {
    return body.size();
  }
  void on_finish_impl(error_code&) override {}

  const size_t max_fields_;
  size_t fields_{0};
  size_t content_lengths_{0};
};

struct Response {
  int status{200};
  std::string content_type{"text/plain; charset=utf-8"};
  std::string body;
  /// Extra header lines, each ending in CRLF.
  std::string headers;
  bool close{false};
};

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 414:
      return "URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    default:
      return "Error";
  }
}

Response Plain(int status, const std::string& text, bool close = false) {
  Response response;
  response.status = status;
  response.body = text + "\n";
  response.close = close;
  return response;
}

/// The whole response as bytes; a HEAD gets the head alone, with the body's length.
std::string Serialize(const Response& response, bool head_only) {
  std::string bytes = "HTTP/1.1 " + std::to_string(response.status) + " " +
                      Reason(response.status) + "\r\nContent-Type: " + response.content_type +
                      "\r\nContent-Length: " + std::to_string(response.body.size()) + "\r\n" +
                      kSecurityHeaders + response.headers;
  if (response.close) {
    bytes += "Connection: close\r\n";
  }
  bytes += "\r\n";
  if (!head_only) {
    bytes += response.body;
  }
  return bytes;
}

/// `since=N` of a query; 0 (the whole state) when absent, nothing when malformed.
std::optional<uint64_t> SinceOf(const std::string& query) {
  size_t start = 0;
  while (start <= query.size()) {
    const size_t end = std::min(query.find('&', start), query.size());
    const std::string pair = query.substr(start, end - start);
    if (pair.rfind("since=", 0) == 0) {
      const std::string number = pair.substr(6);
      if (number.empty() || number.size() > 19 ||
          number.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
      }
      return std::stoull(number);
    }
    start = end + 1;
  }
  return 0;
}

}  // namespace

class MonitorServer::Impl {
 public:
  Impl(FlowModel& model, ServerOptions options, std::atomic<size_t>& connections)
      : model_(model),
        options_(std::move(options)),
        connections_(connections),
        io_(1),
        acceptor_(io_) {}

  /// Binds; returns the port.
  int Listen() {
    error_code ec;
    tcp::resolver resolver(io_);
    const auto endpoints =
        resolver.resolve(options_.bind, std::to_string(options_.port),
                         tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (!ec && !endpoints.empty()) {
      const tcp::endpoint endpoint = *endpoints.begin();
      acceptor_.open(endpoint.protocol(), ec);
      // A port another process holds stays an error: Linux refuses a second
      // listener whatever SO_REUSEADDR says; it only spares TIME_WAIT.
      if (!ec)
        acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
      if (!ec)
        acceptor_.bind(endpoint, ec);
      if (!ec)
        acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec || endpoints.empty()) {
      throw std::runtime_error("cannot listen on " + options_.bind + ":" +
                               std::to_string(options_.port) +
                               " (address not local, port in use or not allowed)");
    }
    Accept();
    return acceptor_.local_endpoint().port();
  }

  void Run() { io_.run(); }

  void Stop() {
    asio::post(io_, [this] {
      error_code ignored;
      acceptor_.close(ignored);
      for (const auto& session : sessions_) {
        session->Close();
      }
    });
    // Whatever the sessions still had queued ends with the loop.
    asio::post(io_, [this] { io_.stop(); });
  }

 private:
  class Session;
  using Sessions = std::list<std::shared_ptr<Session>>;

  /// One connection: read a request head within the deadline, answer, again.
  /// Lives on the I/O thread only.
  class Session : public std::enable_shared_from_this<Session> {
   public:
    Session(Impl& server, tcp::socket socket) : server_(server), stream_(std::move(socket)) {
      buffer_.max_size(server_.options_.header_bytes + 1024);
    }

    void Start(Sessions::iterator self) {
      self_ = self;
      ReadRequest();
    }

    /// When it began waiting for its request; unset while it answers.
    std::optional<SteadyClock::time_point> waiting_since() const { return waiting_since_; }

    void Close() {
      closed_ = true;
      waiting_since_.reset();
      error_code ignored;
      stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
      stream_.socket().close(ignored);
    }

   private:
    void ReadRequest() {
      head_.emplace(server_.options_.header_fields);
      head_->header_limit(static_cast<std::uint32_t>(server_.options_.header_bytes));
      waiting_since_ = SteadyClock::now();
      // One deadline for the whole line and headers, not per receive: a
      // client trickling a byte at a time still has to finish in time.
      stream_.expires_after(server_.options_.request_timeout);
      http::async_read_header(
          stream_, buffer_, *head_,
          [self = shared_from_this()](error_code ec, size_t) { self->OnHead(ec); });
    }

    void OnHead(error_code ec) {
      waiting_since_.reset();
      if (closed_ || ec == http::error::end_of_stream || ec == beast::error::timeout ||
          ec == asio::error::operation_aborted || ec == asio::error::connection_reset) {
        return End();
      }
      if (ec) {
        return Send(Refusal(ec), false);
      }
      const bool head_only = head_->method == http::verb::head;
      Response response = Answer();
      if (!response.close && head_->version == 11) {
        response.close = head_->close;
      } else if (!response.close) {
        response.close = !head_->keep_alive;
      }
      Send(std::move(response), head_only);
    }

    Response Refusal(error_code ec) const {
      if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
        if (!head_->has_request_line) {
          return Plain(414, "request line too long", true);
        }
        return Plain(
            431, head_->too_many_fields ? "too many header fields" : "request headers too large",
            true);
      }
      if (!head_->framing_error.empty()) {
        return Plain(400, "bad request: " + head_->framing_error, true);
      }
      return Plain(400, "bad request: " + ec.message(), true);
    }

    Response Answer() const {
      const RequestHead& head = *head_;
      if (head.method != http::verb::get && head.method != http::verb::head) {
        Response response = Plain(405, "method not allowed: this monitor is read-only", true);
        response.headers = "Allow: GET, HEAD\r\n";
        return response;
      }
      if (head.has_body) {
        return Plain(400, "bad request: this monitor takes no request body", true);
      }
      const size_t question = head.target.find('?');
      const std::string path = head.target.substr(0, question);
      const std::string query =
          question == std::string::npos ? std::string() : head.target.substr(question + 1);
      if (path == "/api/flows") {
        const std::optional<uint64_t> since = SinceOf(query);
        if (!since) {
          return Plain(400, "bad request: since needs a version number", true);
        }
        return server_.Flows(*since);
      }
      for (const PageAsset& asset : PageAssets()) {
        if (asset.path == path) {
          Response response;
          response.content_type = asset.content_type;
          response.body = asset.body;
          return response;
        }
      }
      return Plain(404, "not found: this monitor serves / and /api/flows");
    }

    void Send(Response response, bool head_only) {
      const bool close = response.close;
      const bool refused = response.status >= 400 && close;
      out_ = Serialize(response, head_only);
      stream_.expires_after(server_.options_.request_timeout);
      asio::async_write(stream_, asio::buffer(out_),
                        [self = shared_from_this(), close, refused](error_code ec, size_t) {
                          if (ec) {
                            return self->End();
                          }
                          if (refused) {
                            return self->Linger();
                          }
                          if (close) {
                            return self->End();
                          }
                          self->ReadRequest();
                        });
    }

    // Drops what a refused client still sends, until it closes or the linger
    // time is up, so the refusal is read rather than lost to a reset.
    void Linger() {
      error_code ignored;
      stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
      if (!linger_started_) {
        linger_started_ = true;
        stream_.expires_after(kLingerTime);
      }
      stream_.async_read_some(asio::buffer(scratch_),
                              [self = shared_from_this()](error_code ec, size_t n) {
                                self->lingered_ += n;
                                if (ec || self->lingered_ > kLingerBytes) {
                                  return self->End();
                                }
                                self->Linger();
                              });
    }

    void End() {
      Close();
      if (self_) {
        server_.Forget(*self_);
        self_.reset();
      }
    }

    Impl& server_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<RequestHead> head_;
    std::string out_;
    std::optional<SteadyClock::time_point> waiting_since_;
    std::optional<Sessions::iterator> self_;
    bool closed_{false};
    bool linger_started_{false};
    size_t lingered_{0};
    std::array<char, 4096> scratch_{};
  };

  Response Flows(uint64_t since) {
    // A version from before a restart of the monitor is newer than any here:
    // such a page gets the whole state again.
    const uint64_t current = model_.Summary().version;
    const uint64_t from = since > current ? 0 : since;
    auto changes = model_.Changes(from);
    Response response;
    response.content_type = "application/json";
    response.body = FlowsJson(changes.first, changes.second, from == 0, model_.Summary());
    return response;
  }

  void Accept() {
    acceptor_.async_accept([this](error_code ec, tcp::socket socket) {
      if (ec == asio::error::operation_aborted || !acceptor_.is_open()) {
        return;
      }
      if (!ec) {
        MakeRoom();
        sessions_.push_front(std::make_shared<Session>(*this, std::move(socket)));
        ++connections_;
        sessions_.front()->Start(sessions_.begin());
      }
      Accept();
    });
  }

  /// At the limit, closes the connection that has waited longest for its request.
  void MakeRoom() {
    if (sessions_.size() < options_.max_connections) {
      return;
    }
    Sessions::iterator oldest = sessions_.end();
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
      const auto since = (*it)->waiting_since();
      if (since && (oldest == sessions_.end() || *since < *(*oldest)->waiting_since())) {
        oldest = it;
      }
    }
    if (oldest != sessions_.end()) {
      (*oldest)->Close();
    }
  }

  void Forget(Sessions::iterator session) {
    sessions_.erase(session);
    --connections_;
  }

  FlowModel& model_;
  const ServerOptions options_;
  std::atomic<size_t>& connections_;
  asio::io_context io_;
  tcp::acceptor acceptor_;
  Sessions sessions_;
};

MonitorServer::MonitorServer(FlowModel& model, ServerOptions options)
    : impl_(std::make_unique<Impl>(model, std::move(options), connections_)) {
  port_ = impl_->Listen();
  thread_ = std::thread([this] { impl_->Run(); });
}

MonitorServer::~MonitorServer() {
  Stop();
}

void MonitorServer::Stop() {
  if (thread_.joinable()) {
    impl_->Stop();
    thread_.join();
  }
}

}  // namespace monitor
}  // namespace kestrune
