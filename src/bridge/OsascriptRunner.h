#pragma once
// The script runner over a real child process: the system's script launcher
// (or, in tests, a stand-in executable) started with "-l", "JavaScript", "-e"
// and the script text.
//
// Besides the `ScriptRunner` contract:
// - The child's end is noticed at once (the wait for it returns when it
//   ends); the time limit runs on the clock's monotonic reading (a step of
//   the wall clock does not move it; a test's fast clock shortens it),
//   looked at at least every polling step, so a
//   time-out happens between the deadline and one polling step after it. A
//   time limit that is not a number counts as zero; one longer than 10^9
//   seconds counts as 10^9 seconds.
// - Standard output beyond `outputLimit` bytes (1 GiB unless given) makes the
//   run fail like an unusable answer: the child's process group is killed,
//   the line "[Helper] ⚠ JXA output passed <limit> — script stopped" is
//   logged and the result is the empty string.
// - Standard output is read on the calling thread while the child runs,
//   chunk by chunk, and handed on checked and trimmed (see `stream`);
//   standard error is drained alongside (its last 4 KB kept to tell a refused
//   authorization), so a child that writes much to either never blocks on a
//   full pipe. Nothing of the output is held whole but what `run` returns.
// - After a time-out the call returns at once; a task on the utility queue
//   gives the child's process group `kGrace` to end after the
//   termination request, then kills the group and reaps the child.
//   When a child ends but something it started keeps its output open for
//   longer than `kGrace`, the rest of its group is killed and what the
//   child printed is returned. No child, zombie, thread or descriptor
//   outlives a run.
// - The background work keeps its own state: the runner may be destroyed as
//   soon as a run has returned.
//
// Threading: `run` and `stream` on any thread but the main
// thread; calls may overlap.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/HostScripts.h"
#include "bridge/ScriptRunner.h"

namespace quillory::platform {
class Clock;
class Dispatcher;
class Log;
}  // namespace quillory::platform

namespace quillory::bridge {

// Why the program at `path` cannot be started as the script launcher
// (kLauncherMissing, "is a folder", "is not a file", "is not executable", or
// "cannot be looked at" with the system's description), or none when it can
// be. Looks at the file system; any thread.
inline constexpr std::string_view kLauncherMissing = "does not exist";
std::optional<std::string> launcherProblem(const std::string& path);

class OsascriptRunner final : public ScriptRunner {
 public:
  static constexpr std::chrono::milliseconds kPollingStep{250};
  static constexpr std::chrono::milliseconds kGrace{2000};
  static constexpr std::size_t kOutputLimitBytes = std::size_t{1} << 30;

  OsascriptRunner(platform::Dispatcher& dispatcher, platform::Log& log, const platform::Clock& clock,
                  std::string executable = std::string(kOsascriptPath),
                  std::size_t outputLimit = kOutputLimitBytes);

  ScriptResult run(const std::string& script, ScriptTimeout timeout) override;
  StreamResult stream(const std::string& script, ScriptTimeout timeout, const OutputSink& sink) override;
  bool launcherMissing() const override;

 private:
  platform::Dispatcher& dispatcher_;
  platform::Log& log_;
  const platform::Clock& clock_;
  const std::string executable_;
  const std::size_t outputLimit_;
};

}  // namespace quillory::bridge
