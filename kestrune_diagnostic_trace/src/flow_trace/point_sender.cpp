// Sending flow points to flow_checker.
#include "kestrune_diagnostic_trace/point_sender.hpp"

#include <chrono>

namespace kestrune {
namespace trace {

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

PointSender::PointSender(rclcpp::Node& node, const std::string& topic)
    : publisher_(node.create_publisher<FlowPoint>(topic, rclcpp::QoS(kQueueDepth).reliable())) {
  message_.source = node.get_fully_qualified_name();
}

void PointSender::Trace(const std::string& flow_id, const std::string& point_id, bool success) {
  send(FlowPoint::POINT, flow_id, point_id, success, 0, nullptr);
}

void PointSender::Trace(const std::string& flow_id, const std::string& point_id, bool success,
                        const Metadata& metadata) {
  send(FlowPoint::POINT, flow_id, point_id, success, 0, &metadata);
}

void PointSender::Trace(const std::string& flow_id, const TracePoint& point) {
  // A stamp of 0 would ask the checker to stamp on arrival; 1 ns after the epoch stays a stamp.
  const int64_t stamp_ns = point.timestamp_ms != 0 ? point.timestamp_ms * 1000000 : 1;
  send(FlowPoint::POINT, flow_id, point.point_id, point.success, stamp_ns, &point.metadata);
}

void PointSender::CheckFlow(const std::string& flow_id) {
  send(FlowPoint::CHECK, flow_id, std::string(), true, 0, nullptr);
}

void PointSender::ResetFlow(const std::string& flow_id) {
  send(FlowPoint::RESET, flow_id, std::string(), true, 0, nullptr);
}

const char* PointSender::topic() const {
  return publisher_->get_topic_name();
}

size_t PointSender::CheckerCount() const {
  return publisher_->get_subscription_count();
}

void PointSender::send(uint8_t kind, const std::string& flow_id, const std::string& point_id,
                       bool success, int64_t stamp_ns, const Metadata* metadata) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stamp_ns == 0) {
    stamp_ns = NowNs();
  }
  // The checker orders by stamp: a request stamped before an earlier message
  // (a clock stepped back) would overtake it.
  if (kind != FlowPoint::POINT && stamp_ns < last_stamp_ns_) {
    stamp_ns = last_stamp_ns_;
  }
  last_stamp_ns_ = stamp_ns;
  message_.stamp.sec = static_cast<int32_t>(stamp_ns / kNanosecondsPerSecond);
  message_.stamp.nanosec = static_cast<uint32_t>(stamp_ns % kNanosecondsPerSecond);
  message_.flow_id = flow_id;
  message_.point_id = point_id;
  message_.success = success;
  message_.metadata.resize(metadata != nullptr ? metadata->size() : 0);
  if (metadata != nullptr) {
    auto entry = message_.metadata.begin();
    for (const auto& [key, value] : *metadata) {
      entry->key = key;
      entry->value = value;
      ++entry;
    }
  }
  message_.sequence = ++sequence_;
  message_.kind = kind;
  publisher_->publish(message_);
}

}  // namespace trace
}  // namespace kestrune
