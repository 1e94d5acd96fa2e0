#pragma once
// Where the helper's log lines go on Linux besides standard output, which a
// tray application's user never sees: always into a size-capped file,
// quillory-helper.log in $XDG_STATE_HOME/quillory-helper (~/.local/state when
// the variable is unset or not an absolute path), which the menu's "Show
// Log…" opens; and also into the user's journal when the system runs systemd
// and its journal listens (`journalctl --user -t quillory-helper`), unless
// standard output already goes into the journal (a systemd service, whose
// JOURNAL_STREAM names it), so that no line is there twice.

#include <unistd.h>

#include <filesystem>
#include <memory>

#include "platform/Environment.h"
#include "platform/Log.h"

namespace quillory::platform::posix {

std::filesystem::path logFile(const EnvironmentLookup& environment, const std::filesystem::path& home);

// Whether JOURNAL_STREAM ("<device>:<inode>", set by systemd for a service
// whose output goes to the journal) names the descriptor's file.
bool descriptorIsJournalStream(const EnvironmentLookup& environment, int fd);

// `systemdRuntime` is where systemd keeps its runtime state (a test passes its
// own folder); `standardOutput` the descriptor JOURNAL_STREAM is compared with.
std::unique_ptr<Log> makeSystemLog(const EnvironmentLookup& environment, const std::filesystem::path& home,
                                   const std::filesystem::path& systemdRuntime = "/run/systemd",
                                   int standardOutput = STDOUT_FILENO);

}  // namespace quillory::platform::posix
