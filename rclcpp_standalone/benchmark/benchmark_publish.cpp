// Publishing an event through the layer against a direct dds_write of the same
// sample on a writer with the same QoS. The layer should cost at most 1.1x.
// Argument 0: no reader; 1: a reader in this process (never taken, keep last 1).
#include <benchmark/benchmark.h>

#include <dds/dds.h>

#include <memory>
#include <stdexcept>
#include <string>

#include <rclcpp/rclcpp.hpp>
#include <rclcpp_standalone_test/msg/event.hpp>

#include "support/loopback_domain.hpp"

namespace {

using rclcpp_standalone_test::msg::Event;
using Support = rclcpp::detail::DdsTypeSupport<Event>;

Event typical_event() {
  Event event;
  event.stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
  event.source_id = "grab_place_task";
  event.id = 1001;
  event.status = 0;
  event.msg = "Status OK: home_pos_reached";
  return event;
}

// A layer session with a node, and a plain Cyclone participant in the same domain.
class Session {
 public:
  explicit Session(bool with_reader) {
    const uint32_t domain_id = test_support::use_loopback_domain();
    rclcpp::init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>("benchmark");
    participant_ = dds_create_participant(domain_id, nullptr, nullptr);
    const dds_entity_t topic = dds_create_topic(participant_, &Support::descriptor(),
                                                "rt/benchmark_direct", nullptr, nullptr);
    // rmw_cyclonedds_cpp's mapping of rclcpp::QoS(1).
    dds_qos_t* qos = dds_create_qos();
    dds_qset_writer_data_lifecycle(qos, false);
    dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 1);
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
    dds_qset_durability(qos, DDS_DURABILITY_VOLATILE);
    writer_ = dds_create_writer(participant_, topic, qos, nullptr);
    dds_delete_qos(qos);
    if (writer_ < 0) {
      throw std::runtime_error("cannot create the direct writer");
    }
    if (with_reader) {
      auto ignore = [](const Event&) {};
      direct_reader_ = node_->create_subscription<Event>("benchmark_direct", 1, ignore);
      layer_reader_ = node_->create_subscription<Event>("benchmark_layer", 1, ignore);
    }
  }

  ~Session() {
    dds_delete(participant_);
    rclcpp::shutdown();
  }

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  rclcpp::Node& node() { return *node_; }
  dds_entity_t direct_writer() const { return writer_; }

 private:
  std::shared_ptr<rclcpp::Node> node_;
  dds_entity_t participant_{0};
  dds_entity_t writer_{0};
  rclcpp::Subscription<Event>::SharedPtr direct_reader_;
  rclcpp::Subscription<Event>::SharedPtr layer_reader_;
};

void direct_dds_write(benchmark::State& state) {
  Session session(state.range(0) != 0);
  const Event event = typical_event();
  Support::DdsType sample{};
  Support::to_dds(event, sample);
  for (auto _ : state) {
    benchmark::DoNotOptimize(dds_write(session.direct_writer(), &sample));
  }
}

void layer_publish(benchmark::State& state) {
  Session session(state.range(0) != 0);
  auto publisher = session.node().create_publisher<Event>("benchmark_layer", 1);
  const Event event = typical_event();
  for (auto _ : state) {
    publisher->publish(event);
  }
}

BENCHMARK(direct_dds_write)->Arg(0)->Arg(1);
BENCHMARK(layer_publish)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
