#include "rclcpp/utilities.hpp"

#include "rclcpp/detail/context.hpp"
#include "signal_handler.hpp"

namespace rclcpp {

void init(int /*argc*/, char const* const* /*argv*/) {
  // The context must exist before the watcher thread can shut it down.
  auto& context = detail::Context::instance();
  detail::SignalHandler::instance().install();
  context.init();
}

bool ok() {
  return detail::Context::instance().ok();
}

bool shutdown() {
  return detail::Context::instance().shutdown();
}

}  // namespace rclcpp
