#ifndef RCLCPP__EXECUTORS_HPP_
#define RCLCPP__EXECUTORS_HPP_

#include <memory>

#include "rclcpp/node.hpp"

namespace rclcpp {

/// Runs the node's callbacks as messages arrive until shutdown, sleeping in between.
void spin(std::shared_ptr<Node> node_ptr);

/// Runs the callbacks that are ready now, then returns.
void spin_some(std::shared_ptr<Node> node_ptr);

}  // namespace rclcpp

#endif  // RCLCPP__EXECUTORS_HPP_
