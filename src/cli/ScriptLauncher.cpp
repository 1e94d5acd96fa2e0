#include "cli/ScriptLauncher.h"

#include "cli/TerminalText.h"

namespace quillory::cli {

std::string launcherProblemText(const std::string& path, const std::string& problem,
                                const std::string& simulator) {
  std::string text =
      "quillory-helper-cli: cannot start the script launcher: " + terminalText(path) + " " + problem + "\n";
#if defined(__APPLE__)
  (void)simulator;
#else
  text +=
      "On Linux there is no osascript: name a stand-in with --osascript PATH and add --assume-host-running, "
      "for example with the simulated Kettle Ledger:\n"
      "  quillory-helper-cli sync --osascript " +
      terminalText(simulator) + " --assume-host-running\n";
#endif
  return text;
}

}  // namespace quillory::cli
