#include "rclcpp/expand_topic_or_service_name.hpp"

#include <cstddef>
#include <optional>

#include "rclcpp/exceptions.hpp"

namespace rclcpp {

namespace {

// Longest fully qualified name: DDS allows 255 characters, of which rmw keeps 8 for prefixes.
constexpr size_t kTopicMaxNameLength = 255 - 8;

struct Violation {
  std::string message;
  size_t index;
};

// Locale-independent, as rcutils_isalnum_no_locale: bytes beyond ASCII are never names.
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_alnum(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// rcl_validate_topic_name: the name as the user wrote it, relative names,
// "~" and substitutions allowed.
std::optional<Violation> validate_topic_name(const std::string& name) {
  if (name.empty()) {
    return Violation{"topic name must not be empty string", 0};
  }
  if (is_digit(name.front())) {
    return Violation{"topic name token must not start with a number", 0};
  }
  if (name.back() == '/') {
    return Violation{"topic name must not end with a forward slash", name.size() - 1};
  }
  const char* const kUnallowedInSubstitution =
      "substitution name must not contain characters other than alphanumerics or '_'";
  const char* const kUnmatchedBrace =
      "topic name must not have unmatched (unbalanced) curly braces '{}'";
  bool in_braces = false;
  size_t opening_brace = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (is_alnum(c)) {
      if (is_digit(c) && in_braces && i == opening_brace + 1) {
        return Violation{"substitution name must not start with a number", i};
      }
    } else if (c == '_') {
      continue;
    } else if (c == '/') {
      if (in_braces) {
        return Violation{kUnallowedInSubstitution, i};
      }
    } else if (c == '~') {
      if (i != 0) {
        return Violation{"topic name must not have tilde '~' unless it is the first character", i};
      }
    } else if (c == '{') {
      if (in_braces) {
        return Violation{kUnallowedInSubstitution, i};
      }
      in_braces = true;
      opening_brace = i;
    } else if (c == '}') {
      if (!in_braces) {
        return Violation{kUnmatchedBrace, i};
      }
      in_braces = false;
    } else if (in_braces) {
      return Violation{kUnallowedInSubstitution, i};
    } else {
      return Violation{
          "topic name must not contain characters other than alphanumerics, '_', '~', '{', or '}'",
          i};
    }
  }
  if (in_braces) {
    return Violation{kUnmatchedBrace, opening_brace};
  }
  for (size_t i = 0; i + 1 < name.size(); ++i) {
    if (name[i] == '/') {
      if (is_digit(name[i + 1])) {
        return Violation{"topic name token must not start with a number", i + 1};
      }
    } else if (i == 1 && name[0] == '~') {
      return Violation{
          "topic name must not have a tilde '~' that is not followed by a forward slash '/'", 1};
    }
  }
  return std::nullopt;
}

// rmw_validate_full_topic_name: the expanded, fully qualified name.
std::optional<Violation> validate_full_topic_name(const std::string& name) {
  if (name.empty()) {
    return Violation{"topic name must not be empty", 0};
  }
  if (name.front() != '/') {
    return Violation{"topic name must be absolute, it must lead with a '/'", 0};
  }
  if (name.back() == '/') {
    return Violation{"topic name must not end with a '/'", name.size() - 1};
  }
  for (size_t i = 0; i < name.size(); ++i) {
    if (!is_alnum(name[i]) && name[i] != '_' && name[i] != '/') {
      return Violation{
          "topic name must not contain characters other than alphanumerics, '_', or '/'", i};
    }
  }
  for (size_t i = 0; i + 1 < name.size(); ++i) {
    if (name[i] == '/' && name[i + 1] == '/') {
      return Violation{"topic name must not contain repeated '/'", i + 1};
    }
    if (name[i] == '/' && is_digit(name[i + 1])) {
      return Violation{"topic name must not have a token that starts with a number", i + 1};
    }
  }
  if (name.size() > kTopicMaxNameLength) {
    return Violation{"topic length should not exceed '" + std::to_string(kTopicMaxNameLength) + "'",
                     kTopicMaxNameLength - 1};
  }
  return std::nullopt;
}

[[noreturn]] void throw_invalid(const std::string& name, const Violation& violation,
                                bool is_service) {
  if (is_service) {
    throw exceptions::InvalidServiceNameError(name.c_str(), violation.message.c_str(),
                                              violation.index);
  }
  throw exceptions::InvalidTopicNameError(name.c_str(), violation.message.c_str(), violation.index);
}

std::string join(const std::string& namespace_, const std::string& relative) {
  // The root namespace needs no separating '/'.
  return namespace_.size() == 1 ? namespace_ + relative : namespace_ + "/" + relative;
}

}  // namespace

std::string expand_topic_or_service_name(const std::string& name, const std::string& node_name,
                                         const std::string& namespace_, bool is_service) {
  if (const auto violation = validate_topic_name(name)) {
    throw_invalid(name, *violation, is_service);
  }
  std::string expanded = name.front() == '~' ? join(namespace_, node_name) + name.substr(1) : name;
  // One left-to-right pass, so replaced text is never expanded again.
  for (size_t open = expanded.find('{'); open != std::string::npos;
       open = expanded.find('{', open)) {
    const size_t close = expanded.find('}', open);
    const std::string substitution = expanded.substr(open, close - open + 1);
    std::string replacement;
    if (substitution == "{node}") {
      replacement = node_name;
    } else if (substitution == "{ns}" || substitution == "{namespace}") {
      replacement = namespace_;
    } else {
      // rclcpp reports this as a plain runtime_error ("topic name unexpectedly
      // valid"); it is an invalid name like any other.
      throw_invalid(name,
                    Violation{"unknown substitution: " + substitution, name.find(substitution)},
                    is_service);
    }
    expanded.replace(open, substitution.size(), replacement);
    open += replacement.size();
  }
  if (expanded.front() != '/') {
    expanded = join(namespace_, expanded);
  }
  if (const auto violation = validate_full_topic_name(expanded)) {
    throw_invalid(expanded, *violation, is_service);
  }
  return expanded;
}

}  // namespace rclcpp
