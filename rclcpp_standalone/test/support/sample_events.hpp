#ifndef RCLCPP_STANDALONE__TEST__SUPPORT__SAMPLE_EVENTS_HPP_
#define RCLCPP_STANDALONE__TEST__SUPPORT__SAMPLE_EVENTS_HPP_

#include <cstdint>
#include <limits>
#include <string>

#include <rclcpp_standalone_test/msg/event.hpp>

namespace test_support {

/// Event number `index` from `source`: every field differs per index and only
/// an exact round trip keeps it (negative and extreme values, quotes, UTF-8,
/// a text spanning several kilobytes).
inline rclcpp_standalone_test::msg::Event sample_event(const std::string& source, int32_t index) {
  rclcpp_standalone_test::msg::Event event;
  event.stamp.sec = index % 2 == 0 ? -index - 1 : std::numeric_limits<int32_t>::max() - index;
  event.stamp.nanosec = 999999999u - static_cast<uint32_t>(index);
  event.source_id = source;
  event.id = index == 0 ? std::numeric_limits<int32_t>::min() : index * 7919;
  event.status = index % 2;
  event.msg = "event " + std::to_string(index) +
              " 'single' \"double\" \xc3\xbcnic\xc3\xb8"
              "de " +
              std::string(4000 + static_cast<size_t>(index), 'x');
  return event;
}

}  // namespace test_support

#endif  // RCLCPP_STANDALONE__TEST__SUPPORT__SAMPLE_EVENTS_HPP_
