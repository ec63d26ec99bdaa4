#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "flow_model.hpp"
#include "monitor_server.hpp"
#include "support/monitor.hpp"
#include "support/raw_http.hpp"

namespace {

using kestrune::monitor::FlowModel;
using kestrune::monitor::MonitorServer;
using kestrune::monitor::ServerOptions;
using kestrune_test::FlowEvent;
using kestrune_test::FlowStatus;
using kestrune_test::MonitorConfig;
using kestrune_test::RawConnection;
using kestrune_test::StatusOf;
using nlohmann::json;
using std::chrono::seconds;

constexpr size_t kMaxClients = 2;

class MonitorServerTest : public ::testing::Test {
 protected:
  MonitorServerTest() : model_(MonitorConfig()), server_(model_, Options()) {}

  static ServerOptions Options() {
    ServerOptions options;
    options.port = 0;
    options.max_clients = kMaxClients;
    options.min_update_gap = std::chrono::milliseconds(10);
    return options;
  }

  /// One request on a fresh connection that the server is asked to close.
  std::string Request(const std::string& method, const std::string& target,
                      const std::string& extra = "") {
    RawConnection connection(server_.port());
    connection.Send(method + " " + target +
                    " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" + extra + "\r\n");
    return connection.ReadAll();
  }

  std::string Get(const std::string& target) { return Request("GET", target); }

  static std::string Body(const std::string& response) {
    const size_t start = response.find("\r\n\r\n");
    return start == std::string::npos ? std::string() : response.substr(start + 4);
  }

  /// Opens a stream and waits for its first update.
  std::unique_ptr<RawConnection> OpenStream() {
    auto stream = std::make_unique<RawConnection>(server_.port());
    stream->Send("GET /api/stream HTTP/1.1\r\nHost: localhost\r\n\r\n");
    stream->ReadUntil("\n\n");
    return stream;
  }

  /// Waits (bounded) until the server counts `count` open streams.
  bool WaitForClients(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + seconds(10);
    while (server_.clients() != count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return server_.clients() == count;
  }

  FlowModel model_;
  MonitorServer server_;
};

TEST_F(MonitorServerTest, serves_the_compiled_in_page_with_a_script_policy) {
  const std::string page = Get("/");
  EXPECT_EQ(StatusOf(page), 200);
  EXPECT_NE(page.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
  EXPECT_NE(page.find("script-src 'self'"), std::string::npos);
  EXPECT_NE(page.find("X-Content-Type-Options: nosniff"), std::string::npos);
  EXPECT_NE(page.find("<script src=\"/app.js\""), std::string::npos);
  for (const std::string path : {"/app.js", "/style.css"}) {
    const std::string asset = Get(path);
    EXPECT_EQ(StatusOf(asset), 200) << path;
    EXPECT_GT(Body(asset).size(), 100U) << path;
  }
  // The page builds its DOM from data as text only.
  EXPECT_EQ(Body(Get("/app.js")).find("innerHTML"), std::string::npos);
}

TEST_F(MonitorServerTest, api_flows_returns_the_whole_state) {
  model_.AddStatus(FlowStatus("arm", "pick", 2));
  model_.AddEvent(FlowEvent("dock", 12, 0, "Status OK: latch"));
  const std::string response = Get("/api/flows");
  ASSERT_EQ(StatusOf(response), 200);
  EXPECT_NE(response.find("Content-Type: application/json"), std::string::npos);
  const json body = json::parse(Body(response));
  ASSERT_EQ(body["flows"].size(), 2U);
  EXPECT_EQ(body["flows"][0]["flow_id"], "dock");
  EXPECT_EQ(body["flows"][0]["level"], "STALE");
  EXPECT_EQ(body["flows"][0]["events"][0]["msg"], "Status OK: latch");
  EXPECT_EQ(body["flows"][1]["level"], "ERROR");
  EXPECT_EQ(body["flows"][1]["node"], "arm");
}

TEST_F(MonitorServerTest, nothing_but_the_page_and_the_api_can_be_requested) {
  for (const std::string target :
       {"/nope", "/index.html", "/../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "//etc/passwd",
        "/api/flows/../../../etc/passwd", "/api", "/app.js/..", "/%00", "/api/flows%00"}) {
    const std::string response = Get(target);
    EXPECT_EQ(StatusOf(response), 404) << target;
    EXPECT_EQ(response.find("root:"), std::string::npos) << target;
  }
}

TEST_F(MonitorServerTest, other_methods_are_refused_and_change_nothing) {
  const uint64_t version = model_.Changes(0).second;
  for (const std::string method : {"POST", "PUT", "DELETE", "PATCH", "OPTIONS"}) {
    for (const std::string target : {"/", "/api/flows", "/api/stream", "/nope"}) {
      const std::string response =
          Request(method, target, "Content-Length: 11\r\nContent-Type: text/plain\r\n");
      EXPECT_EQ(StatusOf(response), 405) << method << " " << target;
      EXPECT_NE(response.find("Allow: GET, HEAD"), std::string::npos) << method << " " << target;
    }
  }
  EXPECT_EQ(model_.Changes(0).second, version);
}

TEST_F(MonitorServerTest, malformed_and_huge_requests_get_a_client_error) {
  const uint64_t version = model_.Changes(0).second;
  const std::vector<std::pair<std::string, std::string>> table = {
      {"no request line", "GARBAGE\r\n\r\n"},
      {"bad version", "GET / HTTP/7\r\n\r\n"},
      {"huge target", "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n"},
      {"huge body announced", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\n"},
      {"huge header",
       "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20000, 'b') + "\r\n\r\n"},
      {"bad content length", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\n"},
      {"unknown method", "BREW / HTTP/1.1\r\nHost: x\r\n\r\n"},
  };
  for (const auto& [what, request] : table) {
    RawConnection connection(server_.port());
    connection.Send(request);
    const std::string& response = connection.ReadAll(seconds(10));
    // A server may refuse by closing too; what it must not do is answer 2xx.
    const int status = StatusOf(response);
    EXPECT_TRUE(status == 0 || (status >= 400 && status < 500)) << what << ": " << status;
  }
  EXPECT_EQ(model_.Changes(0).second, version);
  EXPECT_EQ(StatusOf(Get("/api/flows")), 200);
}

TEST_F(MonitorServerTest, a_stream_starts_full_and_then_pushes_a_level_change) {
  auto stream = OpenStream();
  const std::string& first = stream->ReadUntil("\n\n");
  ASSERT_NE(first.find("Content-Type: text/event-stream"), std::string::npos);
  ASSERT_NE(first.find("\"full\":true"), std::string::npos);
  stream->Forget();

  model_.AddStatus(FlowStatus("arm", "pick", 1));
  const std::string& update = stream->ReadUntil("\"level\":\"WARN\"", seconds(5));
  EXPECT_NE(update.find("\"level\":\"WARN\""), std::string::npos);
  EXPECT_NE(update.find("\"full\":false"), std::string::npos);
  // Only what changed travels.
  EXPECT_EQ(update.find("\"flow_id\":\"dock\""), std::string::npos);
}

TEST_F(MonitorServerTest, clients_beyond_the_limit_are_refused_until_one_leaves) {
  std::vector<std::unique_ptr<RawConnection>> streams;
  for (size_t i = 0; i < kMaxClients; ++i) {
    streams.push_back(OpenStream());
  }
  ASSERT_TRUE(WaitForClients(kMaxClients));
  const std::string refused = Get("/api/stream");
  EXPECT_EQ(StatusOf(refused), 503);
  EXPECT_NE(Body(refused).find("too many clients"), std::string::npos);
  // The page and the API stay available to everyone.
  EXPECT_EQ(StatusOf(Get("/api/flows")), 200);

  streams.pop_back();
  ASSERT_TRUE(WaitForClients(kMaxClients - 1));
  auto again = OpenStream();
  EXPECT_NE(again->ReadUntil("\n\n").find("data: "), std::string::npos);
}

TEST_F(MonitorServerTest, stop_ends_open_streams_promptly) {
  auto stream = OpenStream();
  const auto before = std::chrono::steady_clock::now();
  server_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, seconds(5));
  EXPECT_EQ(server_.clients(), 0U);
}

TEST(MonitorServer, stops_at_once_however_soon_after_starting) {
  FlowModel model(MonitorConfig());
  ServerOptions options;
  options.port = 0;
  for (int i = 0; i < 50; ++i) {
    MonitorServer server(model, options);
  }
}

TEST(MonitorServer, refuses_to_start_where_it_cannot_listen) {
  FlowModel model(MonitorConfig());
  ServerOptions options;
  options.port = 0;
  MonitorServer first(model, options);
  options.port = first.port();
  try {
    MonitorServer second(model, options);
    FAIL() << "a second server listened on the same port";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("127.0.0.1:" + std::to_string(first.port())),
              std::string::npos);
  }
}

}  // namespace
