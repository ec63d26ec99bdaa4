// kestrune_flow: checks, shows and draws flow configuration files before they
// reach a robot. Exit status: 0 fine (warnings allowed), 1 errors found, 2 usage
// error or a file that cannot be read.
#include <iostream>

#include <kestrune_diagnostic_trace/flow_config_lint.hpp>

#include "command_line.hpp"
#include "flow_render.hpp"
#include "flow_show.hpp"
#include "lint_report.hpp"

namespace {

using kestrune::flow_tool::CommandLine;
using kestrune::flow_tool::FileFindings;
using kestrune::trace::ConfigFinding;
using kestrune::trace::FindingSeverity;
using kestrune::trace::FlowConfigText;

constexpr int kUsageError = 2;
const char kStandardInput[] = "-";

/// The file's text the way every program of the package reads it; "-" is
/// standard input, named "<stdin>" in the findings.
FlowConfigText Read(const std::string& path) {
  if (path == kStandardInput) {
    return kestrune::trace::ReadFlowConfigStream(std::cin, "<stdin>");
  }
  return kestrune::trace::ReadFlowConfigFile(path);
}

std::string DisplayName(const std::string& path) {
  return path == kStandardInput ? "<stdin>" : path;
}

int RunLint(const CommandLine& command) {
  std::vector<FileFindings> files;
  bool unreadable = false;
  for (const auto& path : command.files) {
    FlowConfigText text = Read(path);
    FileFindings file{DisplayName(path), {}};
    if (text.error) {
      unreadable = true;
      file.findings.push_back(std::move(*text.error));
    } else {
      file.findings = kestrune::trace::LintFlowConfig(text.text);
    }
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
int ReportErrors(const std::string& name, const kestrune::trace::ParsedFlowConfig& parsed) {
  FileFindings errors{name, {}};
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
  const FlowConfigText text = Read(path);
  if (text.error) {
    std::cerr << kestrune::flow_tool::FormatText({{DisplayName(path), {*text.error}}});
    return kUsageError;
  }
  const auto parsed = kestrune::trace::ParseFlowConfig(text.text);
  if (command.subcommand == kestrune::flow_tool::Subcommand::kShow) {
    std::cout << kestrune::flow_tool::ShowFlowConfig(parsed);
    return ReportErrors(DisplayName(path), parsed);
  }
  auto flows = kestrune::trace::LoadedFlows(parsed);
  if (!command.flow_id.empty()) {
    decltype(flows) selected;
    for (const auto& flow : flows) {
      if (flow->flow_id == command.flow_id) {
        selected.push_back(flow);
      }
    }
    if (selected.empty()) {
      std::cerr << "kestrune_flow: " << DisplayName(path) << " has no flow '" << command.flow_id
                << "'\n";
      return kUsageError;
    }
    flows = std::move(selected);
  }
  std::cout << kestrune::flow_tool::RenderFlows(parsed, flows,
                                                command.format == "dot"
                                                    ? kestrune::flow_tool::RenderFormat::kDot
                                                    : kestrune::flow_tool::RenderFormat::kMermaid);
  return ReportErrors(DisplayName(path), parsed);
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine command =
      kestrune::flow_tool::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!command.error.empty()) {
    std::cerr << "kestrune_flow: " << command.error << "\n" << kestrune::flow_tool::Usage();
    return kUsageError;
  }
  switch (command.subcommand) {
    case kestrune::flow_tool::Subcommand::kHelp:
      std::cout << kestrune::flow_tool::Usage();
      return 0;
    case kestrune::flow_tool::Subcommand::kLint:
      return RunLint(command);
    default:
      return RunShowOrRender(command);
  }
}
