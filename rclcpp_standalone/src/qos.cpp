#include "rclcpp/qos.hpp"

namespace rclcpp {

QoS::QoS(size_t history_depth) : depth_(history_depth) {}

QoS& QoS::keep_last(size_t depth) {
  depth_ = depth;
  return *this;
}

}  // namespace rclcpp
