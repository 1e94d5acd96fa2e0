#pragma once
// A child process started with posix_spawn, with its standard output and
// standard error connected to pipes.
//
// Contract:
// - `spawn` starts the executable with the arguments (argv[0] is the
//   executable path, the arguments follow). The child gets standard input and
//   the environment of this process, new pipes as standard output and
//   standard error, and no other descriptor. It runs in a process group of
//   its own, so `terminate` and `kill` reach whatever it started as well.
//   The child starts with no signal blocked and SIGPIPE at its default action.
//   Spawning ignores SIGPIPE in this process (once, and only when it still
//   has its default action), so a write into a pipe whose reader has gone
//   returns EPIPE instead of killing the helper.
// - The child is reaped only by `reap` (or the destructor). Until then it
//   stays a zombie once it has ended, which keeps its process-group id
//   reserved: signalling the group can never reach an unrelated process.
// - The destructor of an object whose child has not been reaped kills the
//   whole group and reaps the child, so no zombie is left behind; it then
//   closes every descriptor the object holds.
// - `waitForExit` returns as soon as the child ends: it waits on a pidfd
//   (Linux) or a kqueue process filter (macOS), and only where neither exists
//   does it look in steps of a few milliseconds.
// - `readOutput` appends standard output to a string and discards standard
//   error (keeping its last `kErrorTailBytes` when asked to) until both are
//   closed by every process holding them, or until `stopReading` is called
//   (then what is already in the pipe is still taken). The stop request is
//   sticky: a later `readOutput` returns at once. When the output grows past
//   `limit` bytes it stops reading, empties the string and returns false;
//   stopping the child is the caller's choice. The standard-output pipe is
//   enlarged where the system allows it.
//
// Threading: every member may be called from any thread. The process
// operations are serialized by a mutex (a signal is never sent to a reaped
// child's ids); `reap` holds it while it waits, so reap a child only once it
// has ended or been killed. `readOutput` runs on one thread at a time.
// Interrupted system calls (EINTR) are resumed throughout.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/OwnedFd.h"

namespace quillory::platform::posix {

// How a reaped child ended: an exit code, or the signal that ended it. Both
// are empty when the status could not be collected (someone else reaped it).
struct ExitStatus {
  std::optional<int> code;
  std::optional<int> signal;
};

class ChildProcess {
 public:
  // Starts the child; none when it could not be started (missing or not
  // executable file, no descriptors left...), and then nothing is left open.
  static std::unique_ptr<ChildProcess> spawn(const std::string& executable,
                                             const std::vector<std::string>& arguments);

  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }

  // True while the child has not ended. Does not reap it.
  bool isRunning();
  // Waits until the child ends or the time passes; true when it has ended.
  bool waitForExit(std::chrono::milliseconds limit);
  // The termination request (SIGTERM) to the child's process group.
  void terminate();
  // SIGKILL to the child's process group.
  void kill();
  // Waits for the child to end and collects its status; later calls return
  // the same status at once.
  ExitStatus reap();
  bool isReaped() const {
    std::lock_guard lock(mutex_);
    return reaped_;
  }

  // Reading ends of the pipes (non-blocking, close-on-exec), owned by the object.
  int stdoutFd() const { return stdoutFd_.get(); }
  int stderrFd() const { return stderrFd_.get(); }

  // How much of the end of standard error `readOutput` keeps.
  static constexpr std::size_t kErrorTailBytes = 4096;

  // False when the output passed `limit` (then `output` is empty).
  bool readOutput(std::string& output, std::size_t limit = SIZE_MAX, std::string* errorTail = nullptr);
  void stopReading();

 private:
  ChildProcess(int pid, int stdoutFd, int stderrFd, int wakeReadFd, int wakeWriteFd, int exitWatchFd);
  void signalGroup(int signal);
  bool runningLocked();

  const int pid_;
  const OwnedFd stdoutFd_;
  const OwnedFd stderrFd_;
  const OwnedFd wakeReadFd_;  // becomes readable when reading should stop
  const OwnedFd wakeWriteFd_;
  const OwnedFd exitWatchFd_;  // readable once the child has ended; -1 when there is none
  mutable std::mutex mutex_;   // guards the three fields below
  bool ended_ = false;
  bool reaped_ = false;
  ExitStatus status_;
};

}  // namespace quillory::platform::posix
