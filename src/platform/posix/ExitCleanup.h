#pragma once
// What must not outlive the process when it ends early: the process groups of
// running script children and the temporary files of writes in progress.
//
// The registry is process-wide on purpose. It mirrors state that is itself
// process-wide: the process's signal dispositions and its children. A signal
// ends the whole process, whichever object started the child or the write, so
// the one place that handles the signal must find every group and every file
// without being handed them. Nothing of the program's logic reads it.
//
// - `ChildProcess` adds a child's group when it starts the child and forgets
//   it when it reaps the child or finds it reaped elsewhere (until reaped the
//   group id stays reserved, so signalling it never reaches an unrelated
//   process).
// - Ending is one-way: once `stopChildGroups` has begun, the registry is
//   closed and a child started after that is refused (its starter stops it at
//   once), so no child outlives the process.
// - `files::atomicWrite` creates its temporary file under the registry's
//   lock, registered in the same step, and forgets it once renamed or
//   removed: a signal never finds one unregistered.
// - Changes that must be whole (a document pair's two renames and the
//   records that follow them) are held as whole steps: the exit path waits
//   for those begun, for a bounded time, before it removes the temporary
//   files; once it has begun, no step begins.
// - `watchTerminationSignals` takes SIGTERM, SIGINT and SIGHUP on a thread of
//   its own (sigwait); the composition roots decide what happens then. A
//   second signal while the first is handled ends the process at once.
//
// Threading: any thread; one mutex guards the registry. The functions never
// throw.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace quillory::platform::posix::exitcleanup {

// Starts a child (`start` returns its pid, or -1) and registers its process
// group in one step under the registry's lock, so an exit that begins
// meanwhile never misses it: either the start is refused (-1, nothing runs)
// because the process has begun to end, or the child is registered before
// the exit path looks and is stopped with the others. Forget the group once
// the child is reaped.
int startChildGroup(const std::function<int()>& start);
void forgetChildGroup(int group);

// Creates a temporary file and registers it in one step under the
// registry's lock (`create` makes the file at `path` and returns its
// descriptor, or -1 with errno set), so the exit path never misses it:
// either it is registered before that path looks, or the process has begun
// to end and nothing is created (-1, errno ECANCELED). Forget it once it is
// renamed or removed.
int createTemporaryFile(const std::string& path, const std::function<int()>& create);
void forgetTemporaryFile(const std::string& path);

// Begins a whole step (true), unless the exit path has begun to wait for
// them (false: the step must not begin). Every step begun is ended once.
bool beginWholeStep();
void endWholeStep();

// Lets no step begin any more and waits until those begun have ended, for at
// most `bound`. Returns whether they all ended.
bool finishWholeSteps(std::chrono::milliseconds bound);

// Closes the child registry for good, sends SIGTERM to every registered
// group, waits up to `grace` until the registry is empty (owners forget their
// children as they reap them), then sends SIGKILL to the groups still
// registered. Returns how many groups got SIGKILL.
std::size_t stopChildGroups(std::chrono::milliseconds grace);

// Removes every registered temporary file; later additions fail.
void removeTemporaryFiles();

// The termination signals: SIGTERM, SIGINT and SIGHUP, each unless the process
// was started with it ignored (nohup, a background job of a script).
// Blocks them in the calling thread. Call it in `main` before any other thread
// starts, so that every thread inherits the mask and only the watcher takes them.
void blockTerminationSignals();

// Starts the watcher thread (once): it waits for termination signals. The
// first one calls `onSignal` with its number, on a thread of its own; every
// later one sends SIGKILL to the registered groups, removes the temporary
// files and ends the process at once with status 128 + that signal.
void watchTerminationSignals(std::function<void(int signal)> onSignal);

// Sends what the process writes to its standard output and error from now on
// to /dev/null (standard input is left alone), waits for the whole steps
// begun (up to `kWholeStepBound`), stops the child groups (with `grace`),
// removes the temporary files and ends the process with status
// 128 + `signal`. Touches no stdio stream: one that another thread holds
// (blocked writing to a paused terminal or a full pipe) cannot hold it up.
[[noreturn]] void cleanUpAndExit(int signal, std::chrono::milliseconds grace);

// How long the exit path waits for whole steps: their renames take
// microseconds and their records milliseconds; a hung disk or a settings
// lock held elsewhere must not hold the end of the process for long.
inline constexpr std::chrono::milliseconds kWholeStepBound{2000};

// For `main` on its way out: while `cleanUpAndExit` runs on another thread
// (stopping a script makes the command fail and return), waits for it to end
// the process, so the status stays 128 + the signal; otherwise returns at once.
void awaitCleanUpAndExit();

}  // namespace quillory::platform::posix::exitcleanup
