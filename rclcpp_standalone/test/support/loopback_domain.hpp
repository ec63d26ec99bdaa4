#ifndef RCLCPP_STANDALONE__TEST__SUPPORT__LOOPBACK_DOMAIN_HPP_
#define RCLCPP_STANDALONE__TEST__SUPPORT__LOOPBACK_DOMAIN_HPP_

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

namespace test_support {

/// Keeps DDS on loopback: no multicast (lo has none here), discovery by unicast to 127.0.0.1.
inline const std::string kLoopbackConfig =
    "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\" "
    "multicast=\"false\"/></Interfaces><AllowMulticast>false</AllowMulticast></General>"
    "<Discovery><ParticipantIndex>auto</ParticipantIndex><MaxAutoParticipantIndex>32"
    "</MaxAutoParticipantIndex><Peers><Peer address=\"127.0.0.1\"/></Peers></Discovery>"
    "</Domain></CycloneDDS>";

/// The same without choosing the interface, for ROS_LOCALHOST_ONLY=1, whose own
/// fragment chooses it (Cyclone refuses an interface chosen twice).
inline const std::string kLoopbackConfigWithoutInterface =
    "<CycloneDDS><Domain><General><AllowMulticast>false</AllowMulticast></General>"
    "<Discovery><ParticipantIndex>auto</ParticipantIndex><MaxAutoParticipantIndex>32"
    "</MaxAutoParticipantIndex><Peers><Peer address=\"127.0.0.1\"/></Peers></Discovery>"
    "</Domain></CycloneDDS>";

/// Points DDS at loopback and at a domain drawn once per process from 1 to 232,
/// so test runs of other engineers on this machine are not heard; programs the
/// test starts inherit both. Returns the domain id.
inline uint32_t use_loopback_domain() {
  static const uint32_t domain_id = [] {
    std::random_device seed;
    return std::uniform_int_distribution<uint32_t>(1, 232)(seed);
  }();
  setenv("CYCLONEDDS_URI", kLoopbackConfig.c_str(), 1);
  setenv("ROS_DOMAIN_ID", std::to_string(domain_id).c_str(), 1);
  unsetenv("ROS_LOCALHOST_ONLY");
  return domain_id;
}

/// Another domain than use_loopback_domain()'s, still in 1 to 232.
inline uint32_t other_domain(uint32_t domain_id) {
  return domain_id % 232 + 1;
}

}  // namespace test_support

#endif  // RCLCPP_STANDALONE__TEST__SUPPORT__LOOPBACK_DOMAIN_HPP_
