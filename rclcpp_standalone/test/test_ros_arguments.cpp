#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <rclcpp/detail/ros_arguments.hpp>

namespace {

using rclcpp::detail::RosArguments;

RosArguments Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "program");
  return RosArguments::parse(static_cast<int>(args.size()), args.data());
}

TEST(RosArguments, remap_rules_name_the_node_its_namespace_and_its_topics_first_rule_first) {
  struct Case {
    std::vector<const char*> args;
    std::string name;
    std::string namespace_;
    std::string topic;  // what "/robot/points" of a node given as "checker" becomes
  };
  const std::vector<Case> cases = {
      {{}, "checker", "/", "/robot/points"},
      // Outside --ros-args, and after "--", arguments are the program's.
      {{"-r", "__node:=x", "--ros-args", "-r", "__ns:=/a", "--", "-r", "__node:=y"},
       "checker",
       "/a",
       "/robot/points"},
      {{"--ros-args", "-r", "__node:=renamed", "--remap", "__ns:=/robot"},
       "renamed",
       "/robot",
       "/robot/points"},
      {{"--ros-args", "-r", "__name:=first", "-r", "__node:=second"},
       "first",
       "/",
       "/robot/points"},
      // A rule for another node is not ours; a rule for ours is matched by the name the code gave.
      {{"--ros-args", "-r", "other:__node:=x", "-r", "checker:__node:=mine"},
       "mine",
       "/",
       "/robot/points"},
      // Topic rules compare fully qualified names in the node's final namespace.
      {{"--ros-args", "-r", "__ns:=/robot", "-r", "points:=/elsewhere"},
       "checker",
       "/robot",
       "/elsewhere"},
      {{"--ros-args", "--remap=/robot/points:=other", "-r", "/robot/points:=/never"},
       "checker",
       "/",
       "/other"},
  };
  for (const Case& c : cases) {
    const RosArguments arguments = Parse(c.args);
    const std::string name = arguments.node_name("checker");
    const std::string namespace_ = arguments.node_namespace("checker", "/");
    EXPECT_EQ(name, c.name) << c.args.size();
    EXPECT_EQ(namespace_, c.namespace_) << c.args.size();
    EXPECT_EQ(arguments.remap_topic("/robot/points", "checker", name, namespace_), c.topic)
        << c.args.size();
  }
}

TEST(RosArguments, a_rule_it_cannot_read_is_refused_and_other_arguments_are_set_aside) {
  const RosArguments aside =
      Parse({"--ros-args", "-p", "x:=1", "--params-file", "p.yaml", "--enable-rosout-logs", "-r",
             "__node:=kept", "--log-level", "debug"});
  EXPECT_EQ(aside.ignored(),
            (std::vector<std::string>{"-p x:=1", "--params-file p.yaml", "--enable-rosout-logs",
                                      "--log-level debug"}));
  EXPECT_EQ(aside.node_name("n"), "kept");

  const std::vector<std::vector<const char*>> refused = {
      {"--ros-args", "-r"},
      {"--ros-args", "-r", "no_separator"},
      {"--ros-args", "-r", ":=to"},
      {"--ros-args", "-r", "from:="},
      {"--ros-args", "-r", "__ns:=relative"},
  };
  for (const auto& args : refused) {
    try {
      Parse(args);
      ADD_FAILURE() << "accepted " << args.back();
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find("--ros-args"), std::string::npos) << error.what();
    }
  }
}

}  // namespace
