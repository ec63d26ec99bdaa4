#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "monitor_options.hpp"

namespace {

using kestrune::monitor::MonitorOptions;

MonitorOptions Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "flow_monitor");
  std::vector<const char*> argv;
  for (const auto& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  return MonitorOptions::parse(static_cast<int>(argv.size()), argv.data());
}

TEST(MonitorOptions, defaults_listen_on_loopback_only) {
  const MonitorOptions options = Parse({});
  EXPECT_EQ(options.server.bind, "127.0.0.1");
  EXPECT_EQ(options.server.port, 8080);
  EXPECT_EQ(options.server.max_connections, 256U);
  EXPECT_EQ(options.server.request_timeout, std::chrono::seconds(5));
  EXPECT_TRUE(options.config_path.empty());
  EXPECT_TRUE(options.record.path.empty());
  EXPECT_TRUE(options.serve);
}

TEST(MonitorOptions, reads_every_option_and_leaves_ros_arguments_to_rclcpp) {
  const MonitorOptions options = Parse({"--config",
                                        "f.yaml",
                                        "--bind",
                                        "0.0.0.0",
                                        "--port",
                                        "0",
                                        "--max-connections",
                                        "3",
                                        "--request-timeout",
                                        "2",
                                        "--record",
                                        "night.jsonl",
                                        "--record-max-mb",
                                        "5",
                                        "--record-keep",
                                        "0",
                                        "--no-http",
                                        "--ros-args",
                                        "--port",
                                        "nonsense"});
  EXPECT_EQ(options.config_path, "f.yaml");
  EXPECT_EQ(options.server.bind, "0.0.0.0");
  EXPECT_EQ(options.server.port, 0);
  EXPECT_EQ(options.server.max_connections, 3U);
  EXPECT_EQ(options.server.request_timeout, std::chrono::seconds(2));
  EXPECT_EQ(options.record.path, "night.jsonl");
  EXPECT_EQ(options.record.max_bytes, 5U * 1024 * 1024);
  EXPECT_EQ(options.record.keep, 0U);
  EXPECT_FALSE(options.serve);
  EXPECT_EQ(Parse({"--replay", "night.jsonl"}).replay_path, "night.jsonl");
}

TEST(MonitorOptions, bad_command_lines_are_refused_naming_the_fault) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> table = {
      {{"--port"}, "--port needs a value"},
      {{"--port", "65536"}, "--port needs a whole number from 0 to 65535, not '65536'"},
      {{"--port", "-1"}, "not '-1'"},
      {{"--port", "80x"}, "not '80x'"},
      {{"--port", "99999999999999999999"}, "not '99999999999999999999'"},
      {{"--max-connections", "0"}, "--max-connections needs a whole number from 1"},
      {{"--request-timeout", "0"}, "--request-timeout needs a whole number from 1"},
      {{"--record", ""}, "--record needs a file"},
      {{"--record-keep", "2"}, "--record-max-mb and --record-keep need --record FILE"},
      {{"--no-http"}, "--no-http needs --record FILE"},
      {{"--replay", "a", "--record", "b"}, "--replay shows a record"},
      {{"--bind", ""}, "--bind needs an address"},
      {{"--verbose"}, "unknown argument '--verbose'"},
      {{"config.yaml"}, "unknown argument 'config.yaml'"},
  };
  for (const auto& [arguments, message] : table) {
    try {
      Parse(arguments);
      ADD_FAILURE() << "accepted " << arguments.front();
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
  }
}

}  // namespace
