#ifndef BUILTIN_INTERFACES__MSG__TIME_HPP_
#define BUILTIN_INTERFACES__MSG__TIME_HPP_

#include <cstdint>

namespace builtin_interfaces {
namespace msg {

/// A point in time: seconds and nanoseconds since the epoch of its clock.
struct Time {
  int32_t sec{0};
  uint32_t nanosec{0};

  bool operator==(const Time& other) const { return sec == other.sec && nanosec == other.nanosec; }
  bool operator!=(const Time& other) const { return !(*this == other); }
};

}  // namespace msg
}  // namespace builtin_interfaces

// After the struct: its DDS mapping needs the complete type.
#include "builtin_interfaces/msg/detail/time__dds_type_support.hpp"

#endif  // BUILTIN_INTERFACES__MSG__TIME_HPP_
