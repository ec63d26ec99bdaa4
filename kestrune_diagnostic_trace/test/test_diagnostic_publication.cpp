#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <rclcpp/rclcpp.hpp>

#include "kestrune_test/child_process.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::DiagnosticEvent;
using kestrune::trace::FlowTrace;
using kestrune::trace::PublishCallback;
using kestrune::trace::TraceFlowCfg;
using kestrune_test::TempFile;
using Clock = std::chrono::steady_clock;

constexpr char kSubscriberFlag[] = "--subscriber";

const char kTopics[] = R"(
workflows:
  - {flow_id: one, diag_topic: diag}
  - {flow_id: two, diag_topic: diag}
  - {flow_id: other, diag_topic: /other}
  - {flow_id: empty, diag_topic: ""}
  - {flow_id: none}
  - {flow_id: null_topic, diag_topic: }
  - {flow_id: dropped, diag_topic: orphan, check_order: maybe}
)";

std::shared_ptr<TraceFlowCfg> Flow(const std::string& flow_id) {
  auto flow = FlowTrace::GetInstance()->GetTraceFlowCfg(flow_id);
  EXPECT_TRUE(flow) << flow_id;
  return flow ? flow : std::make_shared<TraceFlowCfg>();
}

TEST(DiagnosticPublication, one_publisher_per_distinct_topic_on_the_node) {
  TempFile file(kTopics);
  FlowTrace::GetInstance()->Init(file.path(), std::make_shared<rclcpp::Node>("publication_test"));

  auto one = Flow("one");
  auto two = Flow("two");
  auto other = Flow("other");
  ASSERT_TRUE(one->publisher);
  EXPECT_EQ(one->publisher, two->publisher);
  EXPECT_STREQ(one->publisher->get_topic_name(), "/diag");
  ASSERT_TRUE(other->publisher);
  EXPECT_NE(other->publisher, one->publisher);
  EXPECT_STREQ(other->publisher->get_topic_name(), "/other");

  EXPECT_FALSE(Flow("empty")->publisher);
  EXPECT_FALSE(Flow("none")->publisher);
  auto null_topic = Flow("null_topic");
  EXPECT_EQ(null_topic->diag_topic, "null");
  ASSERT_TRUE(null_topic->publisher);
  EXPECT_STREQ(null_topic->publisher->get_topic_name(), "/null");
  EXPECT_FALSE(FlowTrace::GetInstance()->GetTraceFlowCfg("dropped"));
}

TEST(DiagnosticPublication, reinit_replaces_every_publisher) {
  auto node = std::make_shared<rclcpp::Node>("publication_test");
  TempFile file(kTopics);
  auto* engine = FlowTrace::GetInstance();
  engine->Init(file.path(), node);
  // Held, so the new publisher cannot reuse the old one's address.
  const auto first = Flow("one")->publisher;
  ASSERT_TRUE(first);
  engine->Init(file.path(), node);
  const auto second = Flow("one")->publisher;
  ASSERT_TRUE(second);
  EXPECT_NE(first, second);
  EXPECT_EQ(Flow("two")->publisher, second);
}

TEST(DiagnosticPublication, no_publishers_without_a_node) {
  TempFile file(kTopics);
  auto* engine = FlowTrace::GetInstance();
  engine->Init(file.path(), std::make_shared<rclcpp::Node>("publication_test"));
  ASSERT_TRUE(Flow("one")->publisher);

  engine->Init(file.path(), std::shared_ptr<rclcpp::Node>());
  for (const char* id : {"one", "two", "other", "null_topic"}) {
    EXPECT_FALSE(Flow(id)->publisher) << id;
  }
  EXPECT_EQ(Flow("one")->diag_topic, "diag");

  PublishCallback callback = [](const std::string&, const DiagnosticEvent&) { return true; };
  engine->Init(file.path(), callback);
  for (const char* id : {"one", "two", "other", "null_topic"}) {
    EXPECT_FALSE(Flow(id)->publisher) << id;
  }
}

/// The child: a reliable subscriber of `topic` that says "heard" at its first event.
int Subscriber(const std::string& topic) {
  auto node = std::make_shared<rclcpp::Node>("stopped_subscriber");
  bool heard = false;
  auto subscription = node->create_subscription<DiagnosticEvent>(
      topic, rclcpp::QoS(10), [&heard](const DiagnosticEvent&) {
        if (!heard) {
          heard = true;
          std::cout << "heard" << std::endl;
        }
      });
  rclcpp::spin(node);
  return 0;
}

std::chrono::seconds StoppedFor() {
  const char* seconds = std::getenv("KESTRUNE_STOPPED_SECONDS");
  return std::chrono::seconds(seconds != nullptr ? std::atoi(seconds) : 10);
}

/// One Trace call: its wall-clock time, and whether the scheduler took the
/// CPU away during it (an involuntary context switch), which on a busy
/// machine says nothing about the call itself.
struct Call {
  Clock::duration took;
  bool preempted;
};

long InvoluntarySwitches() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nivcsw;
}

/// Traces one event-sending point a millisecond, as a 1 kHz control loop
/// would, for `duration`.
std::vector<Call> TraceFor(Clock::duration duration) {
  auto* engine = FlowTrace::GetInstance();
  std::vector<Call> calls;
  const auto stop_at = Clock::now() + duration;
  for (auto next = Clock::now(); next < stop_at; next += std::chrono::milliseconds(1)) {
    std::this_thread::sleep_until(next);
    const long switches = InvoluntarySwitches();
    const auto start = Clock::now();
    engine->Trace("watched", "a", true);
    const auto took = Clock::now() - start;
    calls.push_back({took, InvoluntarySwitches() != switches});
    if (calls.size() % 100 == 0) {
      engine->ResetFlow("watched");
    }
  }
  return calls;
}

int64_t Us(Clock::duration duration) {
  return std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
}

/// The worst call, and the 99th percentile of the calls the scheduler did not
/// interrupt: a single slow call can still be the host taking the CPU, which
/// no involuntary switch shows inside a virtual machine.
std::pair<Clock::duration, Clock::duration> Worst(const std::vector<Call>& calls,
                                                  const char* what) {
  std::vector<Clock::duration> all;
  std::vector<Clock::duration> running;
  for (const Call& call : calls) {
    all.push_back(call.took);
    if (!call.preempted) {
      running.push_back(call.took);
    }
  }
  std::sort(all.begin(), all.end());
  std::sort(running.begin(), running.end());
  const Clock::duration running_p99 =
      running.empty() ? Clock::duration{} : running[running.size() * 99 / 100];
  std::cout << what << ": " << all.size() << " traces, median " << Us(all[all.size() / 2])
            << " us, p99 " << Us(all[all.size() * 99 / 100]) << " us, p99.9 "
            << Us(all[all.size() * 999 / 1000]) << " us, worst " << Us(all.back())
            << " us, p99 not preempted " << Us(running_p99) << " us" << std::endl;
  return {all.back(), running_p99};
}

// A subscriber that stops acknowledging (SIGSTOP) must not hold up the tracing
// thread: a reliable writer that waited for it would block every Trace that
// sends an event through the node, and every other thread at the engine mutex.
TEST(DiagnosticPublication, a_stopped_subscriber_does_not_hold_up_trace) {
  const std::string topic = "/stopped_test/events";
  TempFile file("workflows:\n  - flow_id: watched\n    diag_topic: " + topic +
                "\n    check_order: false\n    flow_points:\n"
                "      - {point_id: a, event_id: 1, on_success: true}\n");
  auto node = std::make_shared<rclcpp::Node>("stopped_test");
  auto* engine = FlowTrace::GetInstance();
  engine->Init(file.path(), node);
  ASSERT_TRUE(Flow("watched")->publisher);

  kestrune_test::ChildProcess subscriber({"/proc/self/exe", kSubscriberFlag, topic});
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (subscriber.output().find("heard") == std::string::npos && Clock::now() < deadline) {
    engine->Trace("watched", "a", true);
    subscriber.read_output(Clock::now() + std::chrono::milliseconds(20));
  }
  ASSERT_NE(subscriber.output().find("heard"), std::string::npos) << "the subscriber never heard";

  subscriber.signal(SIGSTOP);
  const std::vector<Call> calls = TraceFor(StoppedFor());
  subscriber.signal(SIGCONT);
  const auto [worst, running_p99] = Worst(calls, "subscriber stopped");
  // A writer waiting for acknowledgements blocks every call for 100 ms or
  // more; the scheduler of a busy machine alone is what the bounds allow for.
  EXPECT_LT(Us(worst), 50000);
  EXPECT_LT(Us(running_p99), 1000);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == kSubscriberFlag) {
    rclcpp::init(1, argv);
    const int status = Subscriber(argv[2]);
    rclcpp::shutdown();
    return status;
  }
  ::testing::InitGoogleTest(&argc, argv);
  rclcpp::init(argc, argv);
  const int result = RUN_ALL_TESTS();
  rclcpp::shutdown();
  return result;
}
