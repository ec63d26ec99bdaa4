// Publishes /diagnostics for the flows named on its command line, as a node
// with diagnostics enabled does, their level alternating OK and ERROR every
// second; the browser test watches the page follow. Runs until SIGINT/SIGTERM.
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <diagnostic_msgs/msg/diagnostic_array.hpp>
#include <rclcpp/rclcpp.hpp>

int main(int argc, char** argv) {
  const std::vector<std::string> flow_ids(argv + 1, argv + argc);
  rclcpp::init(1, argv);
  auto node = std::make_shared<rclcpp::Node>("status_publisher");
  auto publisher = node->create_publisher<diagnostic_msgs::msg::DiagnosticArray>("/diagnostics", 1);
  const auto start = std::chrono::steady_clock::now();
  while (rclcpp::ok()) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const bool failing = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count() % 2 == 1;
    diagnostic_msgs::msg::DiagnosticArray array;
    for (const std::string& flow_id : flow_ids) {
      diagnostic_msgs::msg::DiagnosticStatus status;
      status.level = failing ? diagnostic_msgs::msg::DiagnosticStatus::ERROR
                             : diagnostic_msgs::msg::DiagnosticStatus::OK;
      status.name = "status_publisher: " + flow_id;
      status.hardware_id = "status_publisher";
      status.message = failing ? "failed at 'place_pos_reached' (point failed)" : "passed";
      diagnostic_msgs::msg::KeyValue value;
      value.key = "flow id";
      value.value = flow_id;
      status.values.push_back(value);
      array.status.push_back(status);
    }
    publisher->publish(array);
    // The period of a publishing node; this is a test driver, not a timed wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  rclcpp::shutdown();
  return EXIT_SUCCESS;
}
