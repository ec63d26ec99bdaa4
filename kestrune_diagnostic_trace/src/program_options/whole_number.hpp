#ifndef KESTRUNE_DIAGNOSTIC_TRACE__PROGRAM_OPTIONS__WHOLE_NUMBER_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__PROGRAM_OPTIONS__WHOLE_NUMBER_HPP_

#include <stdexcept>
#include <string>

namespace kestrune {

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

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__PROGRAM_OPTIONS__WHOLE_NUMBER_HPP_
