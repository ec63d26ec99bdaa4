// A node that reports flow health on /diagnostics for test_health_reporter in
// another process. Arguments: the flow configuration file. It prints "ready"
// once the engine is initialised; SIGUSR1 records the failed point 'a' of flow
// 'pick' (an error); SIGINT or SIGTERM ends it as a program would end.
#include <csignal>
#include <iostream>
#include <memory>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <rclcpp/rclcpp.hpp>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: health_probe CONFIG\n";
    return 2;
  }
  // Blocked before any thread starts, so every thread inherits the mask and
  // only sigwait below receives them.
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal_number : {SIGUSR1, SIGINT, SIGTERM}) {
    sigaddset(&signals, signal_number);
  }
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("health_probe");
  auto* engine = kestrune::trace::FlowTrace::GetInstance();
  engine->Init(argv[1], node);
  std::cout << "ready" << std::endl;
  int received = 0;
  while (sigwait(&signals, &received) == 0 && received == SIGUSR1) {
    engine->Trace("pick", "a", false);
    std::cout << "failed" << std::endl;
  }
  rclcpp::shutdown();
  return 0;
}
