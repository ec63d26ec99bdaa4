#ifndef KESTRUNE_DIAGNOSTIC_TRACE__LINT_REPORT_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__LINT_REPORT_HPP_

#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/flow_config.hpp>

namespace kestrune {
namespace flow_tool {

/// The findings of one file.
struct FileFindings {
  std::string file;
  std::vector<trace::ConfigFinding> findings;
};

/// One finding a line, as compilers print them:
/// "FILE:LINE:COLUMN: error: MESSAGE [CODE]", or "FILE: error: ..." for the file as a whole.
std::string FormatText(const std::vector<FileFindings>& files);

/// All findings as one JSON array of objects with the members file, line, column,
/// severity ("error" or "warning"), code, key and message; valid UTF-8 whatever
/// bytes the files held.
std::string FormatJson(const std::vector<FileFindings>& files);

}  // namespace flow_tool
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__LINT_REPORT_HPP_
