#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <rclcpp/rclcpp.hpp>

#include "support/temp_file.hpp"

namespace {

using kestrune::trace::DiagnosticEvent;
using kestrune::trace::FlowTrace;
using kestrune::trace::PublishCallback;
using kestrune::trace::TraceFlowCfg;
using kestrune_test::TempFile;

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

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  rclcpp::init(argc, argv);
  const int result = RUN_ALL_TESTS();
  rclcpp::shutdown();
  return result;
}
