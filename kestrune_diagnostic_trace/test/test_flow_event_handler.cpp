#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/flow_check_result.hpp>

#include "flow_event_handler.hpp"
#include "support/captured_log.hpp"

namespace {

using kestrune::scenario::FlowEventHandler;
using kestrune::trace::FlowCheckResult;
using kestrune::trace::FlowCheckStatus;
using kestrune::trace::TracePoint;
using kestrune::trace::TracePointCfg;
using kestrune_test::CapturedLog;

std::shared_ptr<FlowCheckResult> Result(uint32_t status, bool failure_point, bool desired_point) {
  auto result = std::make_shared<FlowCheckResult>();
  result->status = static_cast<FlowCheckStatus>(status);
  if (failure_point) {
    result->failure_point = std::make_shared<TracePoint>("place", false);
    result->failure_point->index = 12;
  }
  if (desired_point) {
    result->desired_point = std::make_shared<TracePointCfg>("grasp");
    result->desired_point->event_id = 4000000001u;
  }
  return result;
}

TEST(FlowEventHandler, writes_status_line_then_the_points_that_are_set) {
  const std::string failure = "[ERROR] FlowEventHandler: failure point 'place', index: 12";
  const std::string desired =
      "[ERROR] FlowEventHandler:  desired point 'grasp', event_id '4000000001'";
  struct Case {
    std::shared_ptr<FlowCheckResult> result;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {nullptr, {"[ERROR] FlowEventHandler: Flow 'f' check result is null"}},
      {Result(0, false, false), {"[ERROR] FlowEventHandler: Flow 'f' success, status: 0"}},
      {Result(0, true, true),
       {"[ERROR] FlowEventHandler: Flow 'f' success, status: 0", failure, desired}},
      {Result(1, true, true),
       {"[ERROR] FlowEventHandler: Flow 'f' failed, status: 1", failure, desired}},
      {Result(2, true, false),
       {"[ERROR] FlowEventHandler: Flow 'f' invalid point, status: 2", failure}},
      {Result(3, true, true),
       {"[ERROR] FlowEventHandler: Flow 'f' duplicated point, status: 3", failure, desired}},
      {Result(4, false, true),
       {"[ERROR] FlowEventHandler: Flow 'f' missing point, status: 4", desired}},
      {Result(5, true, true),
       {"[ERROR] FlowEventHandler: Flow 'f' invalid order, status: 5", failure, desired}},
      {Result(6, false, false), {"[ERROR] FlowEventHandler: Flow 'f' invalid flow, status: 6"}},
      {Result(7, false, true), {"[ERROR] FlowEventHandler: Flow 'f' unknown status: 7", desired}},
      {Result(0xFFFFFFFFu, false, false),
       {"[ERROR] FlowEventHandler: Flow 'f' unknown status: 4294967295"}},
  };
  const FlowEventHandler handler;
  for (const Case& c : cases) {
    CapturedLog log;
    handler("f", c.result);
    EXPECT_EQ(log.Lines(), c.lines);
  }
}

}  // namespace
