#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "kestrune_test/child_process.hpp"
#include "support/raw_http.hpp"

namespace {

using kestrune_test::ChildProcess;
using kestrune_test::ChildStderr;
using std::chrono::seconds;

const std::string kMonitor = KESTRUNE_FLOW_MONITOR;
const std::string kConfig = KESTRUNE_TEST_SOURCE_DIR "/config/test_flow.yaml";

ChildProcess Start(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), kMonitor);
  return ChildProcess(arguments, {}, ChildStderr::kMerged);
}

TEST(FlowMonitor, serves_the_configured_flows_and_stops_cleanly_on_sigint) {
  ChildProcess monitor = Start({"--config", kConfig, "--port", "0"});
  const std::regex serving("serving http://127\\.0\\.0\\.1:([0-9]+)/ \\(3 configured flows\\)");
  std::smatch match;
  const auto deadline = std::chrono::steady_clock::now() + seconds(20);
  while (!std::regex_search(monitor.output(), match, serving) && monitor.read_output(deadline)) {
  }
  ASSERT_TRUE(std::regex_search(monitor.output(), match, serving)) << monitor.output();

  kestrune_test::RawConnection connection(std::stoi(match[1]));
  connection.Send("GET /api/flows HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const std::string& response = connection.ReadAll();
  EXPECT_EQ(kestrune_test::StatusOf(response), 200);
  EXPECT_NE(response.find("\"flow_id\":\"grab_place_task\""), std::string::npos);

  monitor.interrupt();
  EXPECT_EQ(monitor.wait_for_exit(seconds(10)), 0) << monitor.output();
}

TEST(FlowMonitor, refuses_bad_starts_naming_the_fault) {
  const std::vector<std::tuple<std::vector<std::string>, int, std::string>> table = {
      {{"--config", "/no/such/flows.yaml"}, 2, "cannot read flow file '/no/such/flows.yaml'"},
      {{"--port", "65536"}, 2, "--port needs a whole number from 0 to 65535"},
      {{"--bind", "192.0.2.1", "--port", "0"}, 1, "cannot listen on 192.0.2.1:0"},
  };
  for (const auto& [arguments, status, message] : table) {
    ChildProcess monitor = Start(arguments);
    EXPECT_EQ(monitor.wait_for_exit(seconds(20)), status) << arguments.front();
    EXPECT_NE(monitor.output().find(message), std::string::npos) << monitor.output();
  }
}

}  // namespace
