#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "checker_options.hpp"

namespace {

using kestrune::checker::CheckerOptions;

CheckerOptions Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "flow_checker");
  std::vector<const char*> argv;
  for (const auto& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  return CheckerOptions::parse(static_cast<int>(argv.size()), argv.data());
}

TEST(CheckerOptions, reads_every_option_with_its_defaults_and_leaves_ros_arguments_to_rclcpp) {
  const CheckerOptions defaults = Parse({"--config", "f.yaml"});
  EXPECT_EQ(defaults.points_topic, "");
  EXPECT_EQ(defaults.reorder_window.count(), 50);
  EXPECT_EQ(defaults.queue_depth, 10000u);

  const CheckerOptions set =
      Parse({"--config", "f.yaml", "--points-topic", "/r/points", "--reorder-ms", "0",
             "--queue-depth", "5", "--ros-args", "-r", "__ns:=/robot1", "--reorder-ms", "x"});
  EXPECT_EQ(set.config_path, "f.yaml");
  EXPECT_EQ(set.points_topic, "/r/points");
  EXPECT_EQ(set.reorder_window.count(), 0);
  EXPECT_EQ(set.queue_depth, 5u);
  EXPECT_TRUE(Parse({"--help"}).help);
}

TEST(CheckerOptions, bad_command_lines_are_refused_naming_the_fault) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> table = {
      {{}, "--config FILE is required"},
      {{"--config"}, "--config needs a value"},
      {{"--config", "f", "--reorder-ms", "60001"},
       "--reorder-ms needs a whole number from 0 to 60000"},
      {{"--config", "f", "--queue-depth", "0"}, "--queue-depth needs a whole number from 1"},
      {{"--config", "f", "--points-topic", ""}, "--points-topic needs a topic name"},
      {{"--config", "f", "--window", "5"}, "unknown argument '--window'"},
  };
  for (const auto& [arguments, message] : table) {
    try {
      Parse(arguments);
      ADD_FAILURE() << "accepted " << message;
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
  }
}

}  // namespace
