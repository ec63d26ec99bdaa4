#ifndef KESTRUNE_DIAGNOSTIC_TRACE__MONITOR_CONFIG_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__MONITOR_CONFIG_HPP_

#include <ostream>
#include <stdexcept>
#include <string>

#include "kestrune_diagnostic_trace/flow_config.hpp"

namespace kestrune {
namespace monitor {

/// A flow file that cannot be used at all: it cannot be read, is not YAML, or
/// is no flow file. The text names the file and says why.
class ConfigFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The flows of the file at `path` as the robot loads them, for the monitor to
/// serve; empty for an empty path. Reads the file as Init does and reports on
/// `errors`, one line each: every entry the robot drops, every flow whose
/// diag_topic ROS 2 refuses (left out, since it could not be subscribed to),
/// and every flow id used more than once (the last such flow is served, as the
/// robot keeps it). Throws ConfigFileError for a file that cannot be used.
trace::ParsedFlowConfig LoadMonitorConfig(const std::string& path, std::ostream& errors);

}  // namespace monitor
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__MONITOR_CONFIG_HPP_
