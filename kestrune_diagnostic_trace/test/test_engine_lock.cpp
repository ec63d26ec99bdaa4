#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>

#include "../src/flow_trace/engine_lock.hpp"
#include "support/captured_log.hpp"
#include "support/temp_file.hpp"

namespace {

using kestrune::trace::FlowCheckResult;
using kestrune::trace::FlowTrace;
using kestrune::trace::TraceFlowCfg;
using kestrune::trace::TracePointCfg;
using kestrune::trace::detail::EngineLock;
using kestrune_test::CapturedLog;
using kestrune_test::TempFile;

std::string Refusal(const std::string& operation) {
  return "[ERROR] " + operation +
         " refused: called from a flow handler or publish callback while the engine is locked";
}

TEST(EngineLock, nested_lock_on_the_same_thread_is_refused_without_deadlock) {
  std::mutex mutex;
  CapturedLog log;
  {
    EngineLock outer(mutex, "Outer");
    ASSERT_TRUE(outer);
    EXPECT_TRUE(EngineLock::HeldByThisThread());
    {
      EngineLock inner(mutex, "Inner");
      EXPECT_FALSE(inner);
    }
    // The refused guard must not release what the outer one holds.
    EXPECT_TRUE(EngineLock::HeldByThisThread());
    EXPECT_FALSE(mutex.try_lock());
  }
  EXPECT_FALSE(EngineLock::HeldByThisThread());
  EngineLock again(mutex, "Again");
  EXPECT_TRUE(again);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{Refusal("Inner")});
}

TEST(EngineLock, other_threads_wait_for_the_lock_instead_of_being_refused) {
  std::mutex mutex;
  std::atomic<bool> released{false};
  std::promise<void> trying;
  CapturedLog log;
  auto outer = std::make_unique<EngineLock>(mutex, "Outer");
  auto other = std::async(std::launch::async, [&] {
    trying.set_value();
    EngineLock lock(mutex, "Other");
    // Mutual exclusion: the lock can only be had once the main thread let go.
    return static_cast<bool>(lock) && released.load();
  });
  ASSERT_EQ(trying.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  // Give the other thread time to block on the mutex; the verdict does not depend on it.
  EXPECT_EQ(other.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  released = true;
  outer.reset();
  ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(other.get());
  EXPECT_TRUE(log.Lines().empty());
}

// A flow handler or publish callback runs on a thread that holds the engine lock;
// holding one here puts the test in the same place without needing a check to run.
TEST(EngineLock, engine_operations_called_under_the_lock_are_refused_and_change_nothing) {
  TempFile file("workflows:\n  - {flow_id: kept}\n");
  auto* engine = FlowTrace::GetInstance();
  engine->Init(file.path(), std::shared_ptr<rclcpp::Node>());
  const auto kept = engine->GetTraceFlowCfg("kept");
  ASSERT_TRUE(kept);

  auto flow = std::make_shared<TraceFlowCfg>();
  flow->flow_id = "new";
  std::vector<std::shared_ptr<TracePointCfg>> points;
  kestrune::trace::PublishCallback callback =
      [](const std::string&, const kestrune::trace::DiagnosticEvent&) { return true; };
  std::mutex handler_mutex;
  CapturedLog log;
  {
    EngineLock held(handler_mutex, "Handler");
    ASSERT_TRUE(held);
    engine->Init(file.path(), std::shared_ptr<rclcpp::Node>());
    engine->Init(file.path(), callback);
    engine->RegisterTraceFlow(flow);
    engine->RegisterTraceFlow("new5", points, "", "", true);
    engine->RemoveTraceFlow("kept");
    engine->RegisterFlowHandler("kept",
                                [](const std::string&, const std::shared_ptr<FlowCheckResult>&) {});
    EXPECT_TRUE(engine->GetTraceFlows().empty());
    EXPECT_FALSE(engine->GetTraceFlowCfg("kept"));
  }
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             Refusal("Init"),
                             Refusal("Init"),
                             Refusal("RegisterTraceFlow"),
                             Refusal("RegisterTraceFlow"),
                             Refusal("RemoveTraceFlow"),
                             Refusal("RegisterFlowHandler"),
                             Refusal("GetTraceFlows"),
                             Refusal("GetTraceFlowCfg"),
                         }));
  EXPECT_EQ(engine->GetTraceFlows(), std::set<std::string>{"kept"});
  EXPECT_EQ(engine->GetTraceFlowCfg("kept"), kept);

  // The refused handler registration left no handler behind.
  CapturedLog after;
  engine->RegisterFlowHandler("kept",
                              [](const std::string&, const std::shared_ptr<FlowCheckResult>&) {});
  EXPECT_EQ(after.Lines(),
            std::vector<std::string>{"[INFO] Successfully registered handler for flow_id: kept"});
}

}  // namespace
