#ifndef RCLCPP__DETAIL__CONTEXT_HPP_
#define RCLCPP__DETAIL__CONTEXT_HPP_

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "rclcpp/detail/dds_participant.hpp"
#include "rclcpp/detail/ros_arguments.hpp"

namespace rclcpp {
namespace detail {

/// The process-wide client state: running or shut down, the DDS participant of
/// the running session, and the wake-up of spinning threads.
///
/// Thread-safe. Lives until static destruction, which shuts a still running
/// context down so a process that never called shutdown() loses no sample either.
class Context {
 public:
  static Context& instance();

  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context();

  /// Starts a session with the command line's ROS arguments, reading the
  /// domain settings from the environment as rcl does; does nothing while
  /// running. Throws std::runtime_error for an invalid ROS_DOMAIN_ID, leaving
  /// the context shut down.
  void init(RosArguments arguments);
  bool ok() const;
  /// The ROS arguments of the running session, which every node applies.
  RosArguments arguments() const;

  /// Ends the session: wakes every spinning thread, then deletes the participant,
  /// which delivers what was published before returning. False if not running.
  bool shutdown();

  /// The session's participant, created on first use with CYCLONEDDS_URI as it
  /// is now. Throws std::runtime_error when not running or DDS refuses.
  std::shared_ptr<DdsParticipant> participant();

  /// Counts data arrivals and shutdowns; read it before looking for work, then
  /// wait_for_work() with it, so nothing arriving in between is missed.
  uint64_t work_generation() const;
  /// Blocks until the generation moves past `seen` or the context shuts down.
  void wait_for_work(uint64_t seen);

 private:
  Context() = default;
  void notify_work();

  mutable std::mutex mutex_;
  std::condition_variable work_cv_;
  bool running_{false};
  uint32_t domain_id_{0};
  bool localhost_only_{false};
  uint64_t work_generation_{0};
  RosArguments arguments_;
  std::shared_ptr<DdsParticipant> participant_;
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__CONTEXT_HPP_
