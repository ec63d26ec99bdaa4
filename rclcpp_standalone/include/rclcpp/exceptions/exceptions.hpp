#ifndef RCLCPP__EXCEPTIONS__EXCEPTIONS_HPP_
#define RCLCPP__EXCEPTIONS__EXCEPTIONS_HPP_

#include <cstddef>
#include <stdexcept>
#include <string>

namespace rclcpp {
namespace exceptions {

/// Thrown when any kind of name (topic, service) is invalid; what() shows the
/// reason and points at the offending character.
class NameValidationError : public std::invalid_argument {
 public:
  NameValidationError(const char* name_type_, const char* name_, const char* error_msg_,
                      size_t invalid_index_)
      : std::invalid_argument(format_error(name_type_, name_, error_msg_, invalid_index_)),
        name_type(name_type_),
        name(name_),
        error_msg(error_msg_),
        invalid_index(invalid_index_) {}

  static std::string format_error(const char* name_type, const char* name, const char* error_msg,
                                  size_t invalid_index);

  const std::string name_type;
  const std::string name;
  const std::string error_msg;
  const size_t invalid_index;
};

/// Thrown when a topic name is invalid.
class InvalidTopicNameError : public NameValidationError {
 public:
  InvalidTopicNameError(const char* namespace_, const char* error_msg, size_t invalid_index)
      : NameValidationError("topic name", namespace_, error_msg, invalid_index) {}
};

/// Thrown when a node name is invalid.
class InvalidNodeNameError : public NameValidationError {
 public:
  InvalidNodeNameError(const char* node_name, const char* error_msg, size_t invalid_index)
      : NameValidationError("node name", node_name, error_msg, invalid_index) {}
};

/// Thrown when a node namespace is invalid.
class InvalidNamespaceError : public NameValidationError {
 public:
  InvalidNamespaceError(const char* namespace_, const char* error_msg, size_t invalid_index)
      : NameValidationError("namespace", namespace_, error_msg, invalid_index) {}
};

/// Thrown when a service name is invalid.
class InvalidServiceNameError : public NameValidationError {
 public:
  InvalidServiceNameError(const char* namespace_, const char* error_msg, size_t invalid_index)
      : NameValidationError("service name", namespace_, error_msg, invalid_index) {}
};

}  // namespace exceptions
}  // namespace rclcpp

#endif  // RCLCPP__EXCEPTIONS__EXCEPTIONS_HPP_
