#pragma once
// The command line of quillory-helper, the menu-bar (tray) application. It
// takes "--help" (or "-h") and "--version", which answer and end the process
// before anything else is done (no lock, no settings, no tray); "--help" wins
// over everything else wherever it stands (also over arguments that would be
// refused). On Linux it also takes the command line front end's
// "--osascript PATH" (or "--osascript=PATH": the script launcher, such as the
// simulated Kettle Ledger) and "--assume-host-running" (Kettle Ledger taken
// as running without asking the desktop); macOS always runs
// /usr/bin/osascript and asks its workspace. Anything else is refused. The
// usage text is also the source of the manual page. Pure.

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quillory::app {

enum class LaunchAction { run, help, version };

struct LaunchOptions {
  LaunchAction action = LaunchAction::run;
  std::optional<std::string> osascript;  // none: the system's script launcher
  bool assumeHostRunning = false;
};

struct LaunchRefusal {
  std::string message;  // for example "unknown option --verbose"
};

// `arguments` without the program name.
std::variant<LaunchOptions, LaunchRefusal> parseLaunchOptions(const std::vector<std::string>& arguments);

// The --help text, ending in a line break. `simulator` is where the
// simulated Kettle Ledger is installed.
std::string launchUsageText(const std::string& simulator);

}  // namespace quillory::app
