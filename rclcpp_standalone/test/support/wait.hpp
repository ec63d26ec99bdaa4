#ifndef RCLCPP_STANDALONE__TEST__SUPPORT__WAIT_HPP_
#define RCLCPP_STANDALONE__TEST__SUPPORT__WAIT_HPP_

#include <chrono>
#include <memory>
#include <thread>

#include <rclcpp/rclcpp.hpp>

namespace test_support {

constexpr std::chrono::milliseconds kDeadline{10000};

/// Polls `done` until it holds or `timeout` passes; true when it held.
template <typename Predicate>
bool wait_until(Predicate done, std::chrono::milliseconds timeout = kDeadline) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

/// Runs spin_some on `node` until `done` holds or `timeout` passes; true when it held.
template <typename Predicate>
bool spin_until(const std::shared_ptr<rclcpp::Node>& node, Predicate done,
                std::chrono::milliseconds timeout = kDeadline) {
  return wait_until(
      [&] {
        rclcpp::spin_some(node);
        return done();
      },
      timeout);
}

}  // namespace test_support

#endif  // RCLCPP_STANDALONE__TEST__SUPPORT__WAIT_HPP_
