#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <rclcpp/exceptions.hpp>
#include <rclcpp/expand_topic_or_service_name.hpp>

namespace {

using rclcpp::expand_topic_or_service_name;
using rclcpp::exceptions::InvalidTopicNameError;

std::string expand(const std::string& name) {
  return expand_topic_or_service_name(name, "talker", "/");
}

TEST(ExpandTopicOrServiceName, valid_names_expand_as_in_ros2) {
  const std::vector<std::pair<std::string, std::string>> table = {
      {"diag", "/diag"},
      {"/diag", "/diag"},
      {"robot/diag_2", "/robot/diag_2"},
      {"_hidden", "/_hidden"},
      {"~", "/talker"},
      {"~/status", "/talker/status"},
      {"{node}/diag", "/talker/diag"},
      {"/{node}/{node}", "/talker/talker"},
      {"{ns}diag", "/diag"},
      {"{namespace}diag", "/diag"},
      {"/" + std::string(246, 'a'), "/" + std::string(246, 'a')},
  };
  for (const auto& [name, expanded] : table) {
    EXPECT_EQ(expand(name), expanded) << name;
  }
  EXPECT_EQ(expand_topic_or_service_name("~/x", "talker", "/robot"), "/robot/talker/x");
  EXPECT_EQ(expand_topic_or_service_name("x", "talker", "/robot"), "/robot/x");
}

TEST(ExpandTopicOrServiceName, invalid_names_throw_with_reason_and_position) {
  struct Case {
    std::string name;
    std::string reported_name;
    std::string reason;
    size_t index;
  };
  const std::vector<Case> table = {
      {"", "", "topic name must not be empty string", 0},
      {"/", "/", "topic name must not end with a forward slash", 0},
      {"diag/", "diag/", "topic name must not end with a forward slash", 4},
      {"7diag", "7diag", "topic name token must not start with a number", 0},
      {"/robot/7diag", "/robot/7diag", "topic name token must not start with a number", 7},
      {"di ag", "di ag",
       "topic name must not contain characters other than alphanumerics, '_', '~', '{', or '}'", 2},
      {"d\xc3\xaf"
       "ag",
       "d\xc3\xaf"
       "ag",
       "topic name must not contain characters other than alphanumerics, '_', '~', '{', or '}'", 1},
      {"diag~", "diag~", "topic name must not have tilde '~' unless it is the first character", 4},
      {"~diag", "~diag",
       "topic name must not have a tilde '~' that is not followed by a forward slash '/'", 1},
      {"{node", "{node", "topic name must not have unmatched (unbalanced) curly braces '{}'", 0},
      {"node}", "node}", "topic name must not have unmatched (unbalanced) curly braces '{}'", 4},
      {"a/{1x}", "a/{1x}", "substitution name must not start with a number", 3},
      {"{a/b}", "{a/b}",
       "substitution name must not contain characters other than alphanumerics or '_'", 2},
      {"{{node}}", "{{node}}",
       "substitution name must not contain characters other than alphanumerics or '_'", 1},
      {"a/{unknown}", "a/{unknown}", "unknown substitution: {unknown}", 2},
      // Passes the first validation, fails that of the expanded name.
      {"a//b", "/a//b", "topic name must not contain repeated '/'", 3},
      {"/" + std::string(247, 'a'), "/" + std::string(247, 'a'),
       "topic length should not exceed '247'", 246},
  };
  for (const auto& entry : table) {
    try {
      expand(entry.name);
      ADD_FAILURE() << "accepted '" << entry.name << "'";
    } catch (const InvalidTopicNameError& error) {
      EXPECT_EQ(error.name, entry.reported_name);
      EXPECT_EQ(error.error_msg, entry.reason) << entry.name;
      EXPECT_EQ(error.invalid_index, entry.index) << entry.name;
    }
  }
}

TEST(ExpandTopicOrServiceName, error_reads_like_rclcpp_and_is_an_invalid_argument) {
  try {
    expand("diag/");
    FAIL();
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(),
                 "Invalid topic name: topic name must not end with a forward slash:\n"
                 "  'diag/'\n"
                 "       ^\n");
  }
  EXPECT_THROW(expand_topic_or_service_name("srv/", "talker", "/", true),
               rclcpp::exceptions::InvalidServiceNameError);
}

}  // namespace
