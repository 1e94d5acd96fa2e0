#pragma once
// The command line of quillory-helper-cli: one subcommand, its library name
// where it takes one, and options anywhere on the line ("--opt value" or
// "--opt=value"; "--" ends the options). "--help" anywhere before "--" wins
// over everything else on the line, then "--version". Pure.

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quillory::cli {

enum class Command { sync, status, libraries, enable, disable, prune, help, version };

// How the first-sync question is answered when nobody can be asked.
enum class FirstSyncAnswer { sync, dontSync };

struct Options {
  Command command = Command::help;
  std::string libraryName;  // enable, disable
  std::string osascript = "/usr/bin/osascript";
  bool assumeHostRunning = false;
  std::optional<FirstSyncAnswer> answer;
  bool yes = false;
};

struct UsageError {
  std::string message;
};

// `arguments` without the program name.
std::variant<Options, UsageError> parseCommandLine(const std::vector<std::string>& arguments);

// The --help text, ending in a line break. `simulator` is where the
// simulated Kettle Ledger is installed.
std::string usageText(const std::string& simulator);

}  // namespace quillory::cli
