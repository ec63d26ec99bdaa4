#ifndef KESTRUNE_DIAGNOSTIC_TRACE__PROGRAM_OPTIONS__COMMAND_LINE_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__PROGRAM_OPTIONS__COMMAND_LINE_HPP_

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrune {

/// Walks the program's own arguments, up to `--ros-args` (the rest is
/// rclcpp's): -h and --help set `help`; every other argument must be one of
/// `valued`, followed by its value, or one of `flags`; `take(option, value)`
/// reads each (a flag with an empty value). Throws std::invalid_argument
/// naming an unknown argument or a missing value.
inline void WalkOptions(int argc, const char* const* argv, const std::vector<std::string>& valued,
                        const std::vector<std::string>& flags, bool& help,
                        const std::function<void(const std::string&, const std::string&)>& take) {
  auto known = [](const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--ros-args") {
      return;
    }
    if (argument == "-h" || argument == "--help") {
      help = true;
    } else if (known(flags, argument)) {
      take(argument, std::string());
    } else if (!known(valued, argument)) {
      throw std::invalid_argument("unknown argument '" + argument + "'");
    } else if (i + 1 >= argc) {
      throw std::invalid_argument(argument + " needs a value");
    } else {
      take(argument, argv[++i]);
    }
  }
}

/// The value of a command-line option that takes a whole number from `low` to
/// `high`. Throws std::invalid_argument naming the option, the range and the text.
inline unsigned long ParseWholeNumber(const std::string& option, const std::string& text,
                                      unsigned long low, unsigned long high) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos || std::stoul(text) < low ||
      std::stoul(text) > high) {
    throw std::invalid_argument(option + " needs a whole number from " + std::to_string(low) +
                                " to " + std::to_string(high) + ", not '" + text + "'");
  }
  return std::stoul(text);
}

}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__PROGRAM_OPTIONS__COMMAND_LINE_HPP_
