#include "domain_settings.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace rclcpp {
namespace detail {

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

DomainSettings DomainSettings::from_environment() {
  DomainSettings settings;
  const std::string domain_id = environment("ROS_DOMAIN_ID");
  if (!domain_id.empty()) {
    settings.domain_id = parse_domain_id(domain_id);
  }
  settings.localhost_only = environment("ROS_LOCALHOST_ONLY") == "1";
  return settings;
}

uint32_t DomainSettings::parse_domain_id(const std::string& text) {
  // rcl takes whatever strtoul makes of a leading number ("7abc" is 7, "-1" a
  // huge id); a partly numeric value is refused here instead.
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    throw std::runtime_error("ROS_DOMAIN_ID is not an integral number: '" + text + "'");
  }
  // One less than the maximum: Cyclone reserves that value for its default domain.
  const uint64_t kMaxDomainId = std::numeric_limits<uint32_t>::max() - 1;
  const std::string digits = text.substr(std::min(text.find_first_not_of('0'), text.size() - 1));
  if (digits.size() > 10 || std::stoull(digits) > kMaxDomainId) {
    throw std::runtime_error("ROS_DOMAIN_ID is out of range: '" + text + "'");
  }
  return static_cast<uint32_t>(std::stoull(digits));
}

std::string DomainSettings::cyclone_config(const std::string& cyclonedds_uri) const {
  // Cyclone ignores empty fragments, so the separating comma is always safe.
  std::string config = localhost_only
                           ? "<CycloneDDS><Domain><General><Interfaces><NetworkInterface "
                             "address=\"127.0.0.1\"/></Interfaces></General></Domain></CycloneDDS>,"
                           : "";
  return config + cyclonedds_uri;
}

}  // namespace detail
}  // namespace rclcpp
