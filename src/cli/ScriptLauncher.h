#pragma once
// Telling, before a sync starts, that the script launcher cannot be started
// at all, so that the user reads why instead of "Kettle Ledger did not
// respond" (on Linux there is no /usr/bin/osascript: a stand-in such as the
// simulated Kettle Ledger is given with --osascript).
//
// Pure; any thread. Why the launcher cannot be started is
// bridge::launcherProblem (OsascriptRunner.h).

#include <string>

namespace quillory::cli {

// The lines that say so (terminal-safe, each ending in a newline): the path
// and the problem and, on Linux, that --osascript PATH and
// --assume-host-running are needed there, with the simulator installed at
// `simulator` as example.
std::string launcherProblemText(const std::string& path, const std::string& problem,
                                const std::string& simulator);

}  // namespace quillory::cli
