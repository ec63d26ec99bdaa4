#ifndef STD_MSGS__MSG__HEADER_HPP_
#define STD_MSGS__MSG__HEADER_HPP_

#include <memory>
#include <string>

#include "builtin_interfaces/msg/time.hpp"

namespace std_msgs {
namespace msg {

/// Standard metadata for stamped data: when it was taken, and in which frame.
struct Header {
  using SharedPtr = std::shared_ptr<Header>;
  using ConstSharedPtr = std::shared_ptr<const Header>;

  builtin_interfaces::msg::Time stamp;
  std::string frame_id;

  bool operator==(const Header& other) const {
    return stamp == other.stamp && frame_id == other.frame_id;
  }
  bool operator!=(const Header& other) const { return !(*this == other); }
};

}  // namespace msg
}  // namespace std_msgs

// After the struct: its DDS mapping needs the complete type.
#include "std_msgs/msg/detail/header__dds_type_support.hpp"

#endif  // STD_MSGS__MSG__HEADER_HPP_
