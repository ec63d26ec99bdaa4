#include "rclcpp/utilities.hpp"

#include <iostream>
#include <utility>

#include "rclcpp/detail/context.hpp"
#include "signal_handler.hpp"

namespace rclcpp {

void init(int argc, char const* const* argv) {
  // Read first: a command line it refuses starts nothing.
  detail::RosArguments arguments = detail::RosArguments::parse(argc, argv);
  for (const std::string& ignored : arguments.ignored()) {
    std::cerr << "rclcpp_standalone: ROS argument '" << ignored
              << "' is ignored without ROS 2; only remap rules (-r) are honoured\n";
  }
  // The context must exist before the watcher thread can shut it down.
  auto& context = detail::Context::instance();
  detail::SignalHandler::instance().install();
  context.init(std::move(arguments));
}

bool ok() {
  return detail::Context::instance().ok();
}

bool shutdown() {
  return detail::Context::instance().shutdown();
}

}  // namespace rclcpp
