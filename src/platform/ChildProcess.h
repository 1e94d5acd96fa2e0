#pragma once
// A child process started with posix_spawn (implemented with the POSIX
// platform pieces), with its standard output and
// standard error connected to pipes.
//
// Contract:
// - `spawn` starts the executable with the arguments (argv[0] is the
//   executable path, the arguments follow). The child gets standard input and
//   the environment of this process, new pipes as standard output and
//   standard error, and no other descriptor. It runs in a process group of
//   its own, so `terminate` and `kill` reach whatever it started as well.
//   The child starts with no signal blocked and SIGPIPE at its default action
//   (the programs ignore SIGPIPE themselves, at start).
// - The child is reaped only by `reap` (or the destructor). Until then it
//   stays a zombie once it has ended, which keeps its process-group id
//   reserved: signalling the group can never reach an unrelated process.
//   A child found reaped by someone else (SIGCHLD ignored) is forgotten: its
//   group is never signalled again. The programs start with SIGCHLD at its
//   default action, so that this does not happen.
// - The destructor of an object whose child has not been reaped kills the
//   whole group and reaps the child, so no zombie is left behind; it then
//   closes every descriptor the object holds.
// - `waitForExit` returns as soon as the child ends: it waits on a pidfd
//   (Linux) or a kqueue process filter (macOS), and only where neither exists
//   does it look in steps of a few milliseconds.
// - `read` waits for output on either pipe, the end of either or, while
//   it runs, the child's end, and reads what is there: standard output in
//   pieces of at most `kReadBytes` handed to a callback (at most one pipe's
//   worth per call, so a caller that reads in a loop gets control back
//   often, however fast the child writes), standard error discarded except
//   its last `kErrorTailBytes` when asked for. The standard-output pipe is
//   enlarged where the system allows it.
//
// Threading: every member may be called from any thread. The process
// operations are serialized by a mutex (a signal is never sent to a reaped
// child's ids); `reap` holds it while it waits, so reap a child only once it
// has ended or been killed. `read` and `readOutput` run on one thread at a
// time, and the callback on that thread.
// Interrupted system calls (EINTR) are resumed throughout.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillory::platform {

// How a reaped child ended: an exit code, or the signal that ended it. Both
// are empty when the status could not be collected (someone else reaped it).
struct ExitStatus {
  std::optional<int> code;
  std::optional<int> signal;
};

class ChildProcess {
 public:
  // Starts the child; none when it could not be started (missing or not
  // executable file, no descriptors left...) or the process has begun to end
  // (the exit registry is closed: the child is killed and reaped at once),
  // and then nothing is left open.
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

  // How much of the end of standard error is kept, and the largest piece of
  // standard output handed out.
  static constexpr std::size_t kErrorTailBytes = 4096;
  static constexpr std::size_t kReadBytes = 256 * 1024;

  using OutputHandler = std::function<void(std::string_view piece)>;
  struct ReadResult {
    std::size_t outputBytes = 0;  // standard output read by this call
    bool open = true;             // false once both pipes are closed
  };
  // Waits at most `wait` (in steps of a few milliseconds while the child runs
  // where there is no exit watch), then reads what the pipes hold. Standard
  // error's tail is appended to `errorTail` (and that kept to its last
  // `kErrorTailBytes`) when one is given.
  ReadResult read(std::chrono::milliseconds wait, const OutputHandler& onOutput,
                  std::string* errorTail = nullptr);
  // Reads both pipes until they are closed; appends standard output.
  void readOutput(std::string& output, std::string* errorTail = nullptr);

 private:
  struct State;  // the descriptors and the run state, kept with the implementation
  ChildProcess(int pid, std::unique_ptr<State> state);
  void signalGroup(int signal);
  bool runningLocked();

  const int pid_;
  const std::unique_ptr<State> state_;
};

}  // namespace quillory::platform
