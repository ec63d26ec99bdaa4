#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kestrune_test/child_process.hpp"
#include "support/raw_http.hpp"
#include "support/temp_file.hpp"

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

// Whether the process has a TCP socket listening: its socket inodes against
// the LISTEN lines (state 0A) of /proc/net/tcp and tcp6.
bool Listens(pid_t pid) {
  std::set<std::string> inodes;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& fd : std::filesystem::directory_iterator(fds)) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
    if (target.rfind("socket:[", 0) == 0) {
      inodes.insert(target.substr(8, target.size() - 9));
    }
  }
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream file(table);
    std::string line;
    std::getline(file, line);
    while (std::getline(file, line)) {
      std::istringstream fields(line);
      std::string field, state, inode;
      for (int i = 0; i < 10 && fields >> field; ++i) {
        state = i == 3 ? field : state;
        inode = field;
      }
      if (state == "0A" && inodes.count(inode) != 0) {
        return true;
      }
    }
  }
  return false;
}

TEST(FlowMonitor, serves_the_configured_flows_and_stops_cleanly_on_sigint) {
  ChildProcess monitor = Start({"--config", kConfig, "--port", "0"});
  const std::regex serving("serving http://127\\.0\\.0\\.1:([0-9]+)/ \\(3 configured flows\\)");
  std::smatch match;
  const auto deadline = std::chrono::steady_clock::now() + seconds(20);
  while (!std::regex_search(monitor.output(), match, serving) && monitor.read_output(deadline)) {
  }
  ASSERT_TRUE(std::regex_search(monitor.output(), match, serving)) << monitor.output();
  EXPECT_TRUE(Listens(monitor.pid()));

  kestrune_test::RawConnection connection(std::stoi(match[1]));
  connection.Send("GET /api/flows HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const std::string& response = connection.ReadAll();
  EXPECT_EQ(kestrune_test::StatusOf(response), 200);
  EXPECT_NE(response.find("\"flow_id\":\"grab_place_task\""), std::string::npos);

  monitor.interrupt();
  EXPECT_EQ(monitor.wait_for_exit(seconds(10)), 0) << monitor.output();
}

TEST(FlowMonitor, records_all_night_with_no_port_open) {
  kestrune_test::TempFile record("", ".jsonl");
  ChildProcess monitor = Start({"--config", kConfig, "--record", record.path(), "--no-http"});
  const auto deadline = std::chrono::steady_clock::now() + seconds(20);
  while (monitor.output().find("serving no page") == std::string::npos &&
         monitor.read_output(deadline)) {
  }
  ASSERT_NE(monitor.output().find("serving no page (3 configured flows)"), std::string::npos)
      << monitor.output();
  EXPECT_FALSE(Listens(monitor.pid()));
  monitor.interrupt();
  EXPECT_EQ(monitor.wait_for_exit(seconds(10)), 0) << monitor.output();
}

TEST(FlowMonitor, refuses_bad_starts_naming_the_fault) {
  const std::vector<std::tuple<std::vector<std::string>, int, std::string>> table = {
      {{"--config", "/no/such/flows.yaml"}, 2, "cannot read flow file '/no/such/flows.yaml'"},
      {{"--port", "65536"}, 2, "--port needs a whole number from 0 to 65535"},
      {{"--bind", "192.0.2.1", "--port", "0"}, 1, "cannot listen on 192.0.2.1:0"},
      {{"--record", "/no/such/dir/flows.jsonl", "--no-http"},
       1,
       "cannot open the record '/no/such/dir/flows.jsonl': No such file or directory"},
  };
  for (const auto& [arguments, status, message] : table) {
    ChildProcess monitor = Start(arguments);
    EXPECT_EQ(monitor.wait_for_exit(seconds(20)), status) << arguments.front();
    EXPECT_NE(monitor.output().find(message), std::string::npos) << monitor.output();
  }
}

}  // namespace
