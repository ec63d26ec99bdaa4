#ifndef KESTRUNE_FLOW__COMMAND_LINE_HPP_
#define KESTRUNE_FLOW__COMMAND_LINE_HPP_

#include <string>
#include <vector>

namespace kestrune {
namespace flow_tool {

enum class Subcommand { kLint, kShow, kRender, kHelp };

/// What the command line asks for; `error` is set instead when it cannot be understood.
struct CommandLine {
  Subcommand subcommand{Subcommand::kLint};
  /// "-" stands for standard input.
  std::vector<std::string> files;
  /// lint: "text" or "json"; render: "mermaid" or "dot".
  std::string format;
  bool werror{false};
  /// render: the one flow to draw; empty draws every flow.
  std::string flow_id;
  std::string error;
};

/// Reads `kestrune_flow SUBCOMMAND ...` (argv[0] excluded).
CommandLine ParseCommandLine(const std::vector<std::string>& args);

/// The usage text, one subcommand a line.
const char* Usage();

}  // namespace flow_tool
}  // namespace kestrune

#endif  // KESTRUNE_FLOW__COMMAND_LINE_HPP_
