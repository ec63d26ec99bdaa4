#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "domain_settings.hpp"

namespace {

using rclcpp::detail::DomainSettings;

TEST(DomainSettings, domain_id_accepts_only_whole_numbers_below_the_default_marker) {
  EXPECT_EQ(DomainSettings::parse_domain_id("0"), 0u);
  EXPECT_EQ(DomainSettings::parse_domain_id("42"), 42u);
  EXPECT_EQ(DomainSettings::parse_domain_id("0232"), 232u);
  EXPECT_EQ(DomainSettings::parse_domain_id("000000000001"), 1u);
  EXPECT_EQ(DomainSettings::parse_domain_id("4294967294"), 4294967294u);

  for (const std::string text : {"abc", "7abc", "-1", " 7", "7 ", "0x10", "+3", "1.5"}) {
    try {
      DomainSettings::parse_domain_id(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()),
                "ROS_DOMAIN_ID is not an integral number: '" + text + "'");
    }
  }
  for (const std::string text : {"4294967295", "99999999999", "123456789012345678901234"}) {
    try {
      DomainSettings::parse_domain_id(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), "ROS_DOMAIN_ID is out of range: '" + text + "'");
    }
  }
}

TEST(DomainSettings, environment_is_read_as_rcl_reads_it) {
  unsetenv("ROS_DOMAIN_ID");
  unsetenv("ROS_LOCALHOST_ONLY");
  auto settings = DomainSettings::from_environment();
  EXPECT_EQ(settings.domain_id, 0u);
  EXPECT_FALSE(settings.localhost_only);

  setenv("ROS_DOMAIN_ID", "", 1);
  EXPECT_EQ(DomainSettings::from_environment().domain_id, 0u);
  setenv("ROS_DOMAIN_ID", "17", 1);
  EXPECT_EQ(DomainSettings::from_environment().domain_id, 17u);
  setenv("ROS_DOMAIN_ID", "x", 1);
  EXPECT_THROW(DomainSettings::from_environment(), std::runtime_error);
  unsetenv("ROS_DOMAIN_ID");

  // Only exactly "1" turns localhost-only on.
  for (const std::string off : {"", "0", "true", "1 ", "11"}) {
    setenv("ROS_LOCALHOST_ONLY", off.c_str(), 1);
    EXPECT_FALSE(DomainSettings::from_environment().localhost_only) << "'" << off << "'";
  }
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  EXPECT_TRUE(DomainSettings::from_environment().localhost_only);
  unsetenv("ROS_LOCALHOST_ONLY");
}

TEST(DomainSettings, cyclone_config_is_rmw_cyclonedds_fragment_then_cyclonedds_uri) {
  const std::string uri = "file:///etc/cyclone.xml";
  EXPECT_EQ((DomainSettings{3, false}.cyclone_config(uri)), uri);
  EXPECT_EQ((DomainSettings{3, false}.cyclone_config("")), "");
  EXPECT_EQ((DomainSettings{3, true}.cyclone_config(uri)),
            "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
            "</Interfaces></General></Domain></CycloneDDS>," +
                uri);
}

}  // namespace
