#ifndef DIAGNOSTIC_MSGS__MSG__KEY_VALUE_HPP_
#define DIAGNOSTIC_MSGS__MSG__KEY_VALUE_HPP_

#include <memory>
#include <string>

namespace diagnostic_msgs {
namespace msg {

/// One named value of a diagnostic status.
struct KeyValue {
  using SharedPtr = std::shared_ptr<KeyValue>;
  using ConstSharedPtr = std::shared_ptr<const KeyValue>;

  std::string key;
  std::string value;

  bool operator==(const KeyValue& other) const { return key == other.key && value == other.value; }
  bool operator!=(const KeyValue& other) const { return !(*this == other); }
};

}  // namespace msg
}  // namespace diagnostic_msgs

#endif  // DIAGNOSTIC_MSGS__MSG__KEY_VALUE_HPP_
