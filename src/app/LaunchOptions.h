#pragma once
// The command line of quillory-helper, the menu-bar (tray) application: it
// takes no arguments but "--help" (or "-h") and "--version", which answer
// and end the process before anything else is done (no lock, no settings,
// no tray). "--help" wins over everything else wherever it stands (also over
// arguments that would be refused); anything else is refused. The usage text is also the source of the manual page. Pure.

#include <string>
#include <variant>
#include <vector>

namespace quillory::app {

enum class LaunchAction { run, help, version };

struct LaunchRefusal {
  std::string message;  // for example "unknown option --verbose"
};

// `arguments` without the program name.
std::variant<LaunchAction, LaunchRefusal> parseLaunchOptions(const std::vector<std::string>& arguments);

// The --help text, ending in a line break.
std::string launchUsageText();

}  // namespace quillory::app
