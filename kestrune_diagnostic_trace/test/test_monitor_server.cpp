#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
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

class MonitorServerTest : public ::testing::Test {
 protected:
  MonitorServerTest() : model_(MonitorConfig()), server_(model_, Options()) {}

  static ServerOptions Options() {
    ServerOptions options;
    options.port = 0;
    options.request_timeout = std::chrono::milliseconds(2000);
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

// Each request a client should not send, the status it gets, and the
// connection closed after it: nothing of it may be taken for a next request.
TEST_F(MonitorServerTest, requests_outside_the_rules_are_refused_and_the_connection_closed) {
  const uint64_t version = model_.Changes(0).second;
  std::string many_fields;
  for (int i = 0; i < 10000; ++i) {
    many_fields += "X-" + std::to_string(i) + ": v\r\n";
  }
  const std::vector<std::tuple<std::string, std::string, int>> table = {
      {"no request line", "GARBAGE\r\n\r\n", 400},
      {"bad version", "GET / HTTP/7\r\n\r\n", 400},
      {"unknown method", "BREW / HTTP/1.1\r\nHost: x\r\n\r\n", 405},
      {"huge target", "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", 414},
      {"huge header", "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20000, 'b') + "\r\n\r\n",
       431},
      {"65 header fields",
       "GET / HTTP/1.1\r\n" + many_fields.substr(0, many_fields.find("X-65:")) + "\r\n", 431},
      {"10,000 header fields", "GET / HTTP/1.1\r\n" + many_fields + "\r\n", 431},
      {"two equal Content-Length",
       "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nContent-Length: 0\r\n\r\n", 400},
      {"two different Content-Length",
       "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nContent-Length: 5\r\n\r\nhello", 400},
      {"a Content-Length list", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 0, 0\r\n\r\n", 400},
      {"Content-Length beside chunked",
       "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
      {"a body on GET", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello", 400},
      {"a chunked body on GET",
       "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
       400},
      {"a negative length", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\n", 400},
      {"a since that is no number", "GET /api/flows?since=x HTTP/1.1\r\nHost: x\r\n\r\n", 400},
  };
  for (const auto& [what, request, status] : table) {
    RawConnection connection(server_.port());
    connection.Send(request + "GET /api/flows HTTP/1.1\r\nHost: x\r\n\r\n");
    const std::string& response = connection.ReadAll(seconds(10));
    EXPECT_EQ(StatusOf(response), status) << what;
    EXPECT_NE(response.find("Connection: close"), std::string::npos) << what;
    EXPECT_EQ(response.find("HTTP/1.1", 1), std::string::npos) << what << ": answered twice";
  }
  EXPECT_EQ(model_.Changes(0).second, version);
  EXPECT_EQ(StatusOf(Get("/api/flows")), 200);
}

TEST_F(MonitorServerTest, pipelined_requests_are_answered_in_order) {
  RawConnection connection(server_.port());
  connection.Send(
      "GET /api/flows HTTP/1.1\r\nHost: x\r\n\r\nGET /nope HTTP/1.1\r\nHost: x\r\n\r\n"
      "HEAD /style.css HTTP/1.1\r\nHost: x\r\n\r\nGET /app.js HTTP/1.1\r\nHost: x\r\n\r\n");
  std::vector<int> statuses;
  for (int i = 0; i < 4; ++i) {
    const std::string response = connection.ReadResponse(seconds(10), i == 2);
    statuses.push_back(StatusOf(response));
    if (i == 0) {
      EXPECT_NE(response.find("\"flows\""), std::string::npos);
    }
    if (i == 2) {
      EXPECT_EQ(Body(response), "") << "HEAD answered with a body";
    }
  }
  EXPECT_EQ(statuses, (std::vector<int>{200, 404, 200, 200}));
  EXPECT_FALSE(connection.Closed());
}

TEST_F(MonitorServerTest, since_gives_the_flows_changed_after_a_version) {
  const json first = json::parse(Body(Get("/api/flows")));
  EXPECT_TRUE(first["full"]);
  model_.AddStatus(FlowStatus("arm", "pick", 1));
  const std::string since = std::to_string(first["version"].get<uint64_t>());
  const json changed = json::parse(Body(Get("/api/flows?since=" + since)));
  EXPECT_FALSE(changed["full"]);
  ASSERT_EQ(changed["flows"].size(), 1U);
  EXPECT_EQ(changed["flows"][0]["level"], "WARN");
  // A version from before a restart of the monitor gets the whole state.
  const json again = json::parse(Body(Get("/api/flows?since=999999")));
  EXPECT_TRUE(again["full"]);
  EXPECT_EQ(again["flows"].size(), 2U);
}

// Slow clients holding connections, each trickling its headers, while pages
// poll: a new request must still be answered within a second, and every slow
// client is cut at the request deadline however much it keeps sending.
TEST_F(MonitorServerTest, slow_clients_never_lock_out_pages_or_new_requests) {
  constexpr int kSlowClients = 100;
  constexpr int kPages = 8;
  const auto end = std::chrono::steady_clock::now() + seconds(4);
  kestrune_test::SlowClients slow(server_.port(), kSlowClients, std::chrono::milliseconds(500));
  std::atomic<int> page_failures{0};
  std::thread pages([&] {
    std::vector<std::unique_ptr<RawConnection>> pages;
    for (int i = 0; i < kPages; ++i) {
      pages.push_back(std::make_unique<RawConnection>(server_.port()));
    }
    while (std::chrono::steady_clock::now() < end) {
      for (auto& page : pages) {
        page->Send("GET /api/flows?since=1 HTTP/1.1\r\nHost: x\r\n\r\n");
        page_failures += StatusOf(page->ReadResponse(seconds(1))) == 200 ? 0 : 1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  });
  std::chrono::duration<double> slowest{0};
  int answered = 0;
  while (std::chrono::steady_clock::now() < end) {
    const auto before = std::chrono::steady_clock::now();
    answered += StatusOf(Get("/api/flows")) == 200 ? 1 : 0;
    slowest =
        std::max<std::chrono::duration<double>>(slowest, std::chrono::steady_clock::now() - before);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  pages.join();
  EXPECT_GT(answered, 10);
  EXPECT_LT(slowest.count(), 1.0);
  EXPECT_EQ(page_failures, 0);
  // The deadline (2 s here) cut every slow client once at least.
  EXPECT_GE(slow.cut(), kSlowClients);
}

TEST(MonitorServer, a_new_connection_at_the_limit_closes_the_longest_waiting_one) {
  FlowModel model(MonitorConfig());
  ServerOptions options;
  options.port = 0;
  options.max_connections = 3;
  MonitorServer server(model, options);
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int i = 0; i < 3; ++i) {
    idle.push_back(std::make_unique<RawConnection>(server.port()));
    // In order: the first is the one that waited longest.
    const auto deadline = std::chrono::steady_clock::now() + seconds(5);
    while (server.connections() != idle.size() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  RawConnection fresh(server.port());
  fresh.Send("GET /api/flows HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(StatusOf(fresh.ReadAll()), 200);
  idle[0]->ReadAll(seconds(5));
  EXPECT_TRUE(idle[0]->Closed());
  EXPECT_FALSE(idle[2]->Closed());
}

TEST_F(MonitorServerTest, stop_closes_open_connections_promptly) {
  RawConnection idle(server_.port());
  const auto before = std::chrono::steady_clock::now();
  server_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, seconds(5));
  idle.ReadAll(seconds(5));
  EXPECT_TRUE(idle.Closed());
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
