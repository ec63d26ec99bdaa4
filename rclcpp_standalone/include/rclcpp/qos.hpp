#ifndef RCLCPP__QOS_HPP_
#define RCLCPP__QOS_HPP_

#include <cstddef>

namespace rclcpp {

/// Quality of service of an endpoint: keep-last history of the given depth,
/// with rclcpp's default reliability (reliable) and durability (volatile).
class QoS {
 public:
  QoS(size_t history_depth);  // NOLINT(runtime/explicit): rclcpp converts from a depth too

  size_t depth() const { return depth_; }

  /// Keep-last history of `depth` samples.
  QoS& keep_last(size_t depth);
  /// Reliable delivery: the layer's only reliability, and rclcpp's default.
  QoS& reliable() { return *this; }

 private:
  size_t depth_;
};

}  // namespace rclcpp

#endif  // RCLCPP__QOS_HPP_
