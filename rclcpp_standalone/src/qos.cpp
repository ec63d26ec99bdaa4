#include "rclcpp/qos.hpp"

namespace rclcpp {

QoS::QoS(size_t history_depth) : depth_(history_depth) {}

}  // namespace rclcpp
