#pragma once
// Telling, before a sync starts, that the script launcher cannot be started
// at all, so that the user reads why instead of "Kettle Ledger did not
// respond" (on Linux there is no /usr/bin/osascript: a stand-in such as the
// simulated Kettle Ledger is given with --osascript).
//
// Pure but for looking at the file system; any thread.

#include <optional>
#include <string>

namespace quillory::cli {

// Why the launcher at `path` cannot be started ("does not exist", "is a
// folder", "is not a file", "is not executable", or "cannot be looked at"
// with the system's description), or none when it can be.
std::optional<std::string> launcherProblem(const std::string& path);

// The lines that say so (terminal-safe, each ending in a newline): the path
// and the problem and, on Linux, that --osascript PATH and
// --assume-host-running are needed there, with the simulator as example.
std::string launcherProblemText(const std::string& path, const std::string& problem);

}  // namespace quillory::cli
