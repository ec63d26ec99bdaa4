#ifndef KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__TOPIC_TYPES_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__TOPIC_TYPES_HPP_

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "echo_options.hpp"

namespace kestrune {
namespace diag_echo {

/// The ROS 2 name of a DDS type as rosidl names it: "pkg::msg::dds_::Name_" gives
/// "pkg/msg/Name"; any other name is returned as it is.
std::string RosTypeName(const std::string& dds_type);

/// What to tell a user whose `topic` carries `ros_type` while diag_echo reads it
/// as `expected`; empty when that is the type read.
std::string TypeMismatch(const std::string& topic, const std::string& ros_type,
                         EchoOptions::Type expected);

/// Watches the DDS graph for writers on `topic` of a type other than the one
/// read, and reports each such type once: DDS never matches them, so without
/// this the tool would print nothing and say nothing.
///
/// Needs rclcpp initialised; runs a thread of its own until destroyed, and
/// calls `report` from it.
class TopicTypeWatch {
 public:
  using Report = std::function<void(const std::string&)>;

  /// `topic` as the node expanded it ("/diagnostics").
  TopicTypeWatch(std::string topic, EchoOptions::Type expected, Report report);
  ~TopicTypeWatch();

  TopicTypeWatch(const TopicTypeWatch&) = delete;
  TopicTypeWatch& operator=(const TopicTypeWatch&) = delete;

 private:
  void Run();

  const std::string topic_;
  const EchoOptions::Type expected_;
  const Report report_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_{false};
  std::thread thread_;
};

}  // namespace diag_echo
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__DIAG_ECHO__TOPIC_TYPES_HPP_
