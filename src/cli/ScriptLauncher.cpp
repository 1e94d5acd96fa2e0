#include "cli/ScriptLauncher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "cli/TerminalText.h"

namespace quillory::cli {

std::optional<std::string> launcherProblem(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int error = errno;
    if (error == ENOENT) return "does not exist";
    return "cannot be looked at (" + std::generic_category().message(error) + ")";
  }
  if (S_ISDIR(info.st_mode)) return "is a folder";
  if (!S_ISREG(info.st_mode)) return "is not a file";
  if (::access(path.c_str(), X_OK) != 0) return "is not executable";
  return std::nullopt;
}

std::string launcherProblemText(const std::string& path, const std::string& problem) {
  std::string text =
      "quillory-helper-cli: cannot start the script launcher: " + terminalText(path) + " " + problem + "\n";
#if !defined(__APPLE__)
  text +=
      "On Linux there is no osascript: name a stand-in with --osascript PATH and add --assume-host-running, "
      "for example with the simulated Kettle Ledger:\n"
      "  quillory-helper-cli sync --osascript build/default/tools/kettle-ledger-sim --assume-host-running\n";
#endif
  return text;
}

}  // namespace quillory::cli
