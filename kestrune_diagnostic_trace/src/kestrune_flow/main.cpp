// kestrune_flow: checks, shows and draws flow configuration files before they
// reach a robot. Exit status: 0 fine (warnings allowed), 1 errors found, 2 usage
// error or unreadable file.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>

#include <kestrune_diagnostic_trace/flow_config_lint.hpp>

#include "command_line.hpp"
#include "flow_render.hpp"
#include "flow_show.hpp"
#include "lint_report.hpp"
#include "loaded_flows.hpp"

namespace {

using kestrune::flow_tool::CommandLine;
using kestrune::flow_tool::FileFindings;
using kestrune::trace::ConfigFinding;
using kestrune::trace::FindingSeverity;

constexpr int kUsageError = 2;

/// The file's text, or nothing after saying on stderr why it cannot be read.
std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::error_code ignored;
  if (!stream || std::filesystem::is_directory(path, ignored)) {
    std::cerr << "kestrune_flow: cannot read '" << path
              << "': " << (stream ? "is a directory" : std::strerror(errno)) << "\n";
    return std::nullopt;
  }
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

int RunLint(const CommandLine& command) {
  std::vector<FileFindings> files;
  bool unreadable = false;
  for (const auto& path : command.files) {
    const auto text = ReadFile(path);
    if (!text) {
      unreadable = true;
      continue;
    }
    FileFindings file{path, kestrune::trace::LintFlowConfig(*text)};
    if (command.werror) {
      for (auto& finding : file.findings) {
        finding.severity = FindingSeverity::kError;
      }
    }
    files.push_back(std::move(file));
  }
  std::cout << (command.format == "json" ? kestrune::flow_tool::FormatJson(files)
                                         : kestrune::flow_tool::FormatText(files));
  if (unreadable) {
    return kUsageError;
  }
  for (const auto& file : files) {
    if (kestrune::trace::HasErrors(file.findings)) {
      return 1;
    }
  }
  return 0;
}

/// Prints the parser's errors on stderr, where they do not mix with the output.
int ReportErrors(const std::string& path, const kestrune::trace::ParsedFlowConfig& parsed) {
  FileFindings errors{path, {}};
  for (const ConfigFinding& finding : parsed.findings) {
    if (finding.severity == FindingSeverity::kError) {
      errors.findings.push_back(finding);
    }
  }
  std::cerr << kestrune::flow_tool::FormatText({errors});
  return errors.findings.empty() ? 0 : 1;
}

int RunShowOrRender(const CommandLine& command) {
  const std::string& path = command.files.front();
  const auto text = ReadFile(path);
  if (!text) {
    return kUsageError;
  }
  const auto parsed = kestrune::trace::ParseFlowConfig(*text);
  auto flows = kestrune::flow_tool::LoadedFlows(parsed);
  if (command.subcommand == kestrune::flow_tool::Subcommand::kShow) {
    std::cout << kestrune::flow_tool::ShowFlows(flows, parsed.heartbeat_period_ms);
    return ReportErrors(path, parsed);
  }
  if (!command.flow_id.empty()) {
    decltype(flows) selected;
    for (const auto& flow : flows) {
      if (flow->flow_id == command.flow_id) {
        selected.push_back(flow);
      }
    }
    if (selected.empty()) {
      std::cerr << "kestrune_flow: " << path << " has no flow '" << command.flow_id << "'\n";
      return kUsageError;
    }
    flows = std::move(selected);
  }
  std::cout << kestrune::flow_tool::RenderFlows(
      flows, command.format == "dot" ? kestrune::flow_tool::RenderFormat::kDot
                                     : kestrune::flow_tool::RenderFormat::kMermaid);
  return ReportErrors(path, parsed);
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine command =
      kestrune::flow_tool::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!command.error.empty()) {
    std::cerr << "kestrune_flow: " << command.error << "\n" << kestrune::flow_tool::Usage();
    return kUsageError;
  }
  if (command.subcommand == kestrune::flow_tool::Subcommand::kLint) {
    return RunLint(command);
  }
  return RunShowOrRender(command);
}
