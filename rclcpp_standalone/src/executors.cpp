#include "rclcpp/executors.hpp"

#include "rclcpp/detail/context.hpp"

namespace rclcpp {

void spin(std::shared_ptr<Node> node_ptr) {
  auto& context = detail::Context::instance();
  while (context.ok()) {
    const uint64_t seen = context.work_generation();
    node_ptr->execute_ready();
    context.wait_for_work(seen);
  }
}

void spin_some(std::shared_ptr<Node> node_ptr) {
  if (detail::Context::instance().ok()) {
    node_ptr->execute_ready();
  }
}

}  // namespace rclcpp
