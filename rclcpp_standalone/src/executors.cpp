#include "rclcpp/executors.hpp"

#include <chrono>

namespace rclcpp {

void spin(std::shared_ptr<Node> node_ptr) {
  auto& context = detail::Context::instance();
  while (context.ok()) {
    node_ptr->execute_ready();
    // The timeout only bounds a missed wake-up; publications and shutdown notify.
    context.wait_for_work(std::chrono::milliseconds(100));
  }
}

void spin_some(std::shared_ptr<Node> node_ptr) {
  if (detail::Context::instance().ok()) {
    node_ptr->execute_ready();
  }
}

}  // namespace rclcpp
