// The command line of kestrune_flow.
#include "command_line.hpp"

namespace kestrune {
namespace flow_tool {

namespace {

bool IsOneOf(const std::string& value, std::initializer_list<const char*> allowed) {
  for (const char* candidate : allowed) {
    if (value == candidate) {
      return true;
    }
  }
  return false;
}

}  // namespace

const char* Usage() {
  return "usage: kestrune_flow lint FILE... [--format text|json] [--werror]\n"
         "       kestrune_flow show FILE\n"
         "       kestrune_flow render FILE [--flow ID] [--format mermaid|dot]\n"
         "       kestrune_flow help\n"
         "FILE '-' is standard input. Exit status: 0 fine (warnings allowed), 1 errors found\n"
         "(lint --werror: any finding), 2 usage error or a file that cannot be read.\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine command;
  if (args.empty()) {
    command.error = "missing subcommand";
    return command;
  }
  const std::string& name = args[0];
  if (name == "help" || name == "-h" || name == "--help") {
    command.subcommand = Subcommand::kHelp;
    return command;
  }
  if (name == "lint") {
    command.subcommand = Subcommand::kLint;
    command.format = "text";
  } else if (name == "show") {
    command.subcommand = Subcommand::kShow;
  } else if (name == "render") {
    command.subcommand = Subcommand::kRender;
    command.format = "mermaid";
  } else {
    command.error = "unknown subcommand '" + name + "'";
    return command;
  }

  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool takes_value = arg == "--format" || arg == "--flow";
    if (takes_value && i + 1 >= args.size()) {
      command.error = "option " + arg + " needs a value";
      return command;
    }
    if (arg == "--format" && command.subcommand != Subcommand::kShow) {
      command.format = args[++i];
    } else if (arg == "--flow" && command.subcommand == Subcommand::kRender) {
      command.flow_id = args[++i];
    } else if (arg == "--werror" && command.subcommand == Subcommand::kLint) {
      command.werror = true;
    } else if (arg == "-h" || arg == "--help") {
      command.subcommand = Subcommand::kHelp;
      return command;
    } else if (arg.size() > 1 && arg[0] == '-') {
      command.error = "unknown option '" + arg + "' for " + name;
      return command;
    } else {
      command.files.push_back(arg);
    }
  }

  if (command.files.empty()) {
    command.error = name + " needs a file";
  } else if (command.subcommand != Subcommand::kLint && command.files.size() > 1) {
    command.error = name + " takes one file";
  } else if (command.subcommand == Subcommand::kLint &&
             !IsOneOf(command.format, {"text", "json"})) {
    command.error = "lint --format is text or json, not '" + command.format + "'";
  } else if (command.subcommand == Subcommand::kRender &&
             !IsOneOf(command.format, {"mermaid", "dot"})) {
    command.error = "render --format is mermaid or dot, not '" + command.format + "'";
  }
  return command;
}

}  // namespace flow_tool
}  // namespace kestrune
