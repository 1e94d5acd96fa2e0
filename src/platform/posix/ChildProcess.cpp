#include "platform/ChildProcess.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>
#include <utility>

#if defined(__linux__)
#include <sys/syscall.h>
#elif defined(__APPLE__)
#include <sys/event.h>
#endif

#include "platform/posix/ExitCleanup.h"
#include "platform/posix/OwnedFd.h"

extern char** environ;

namespace quillory::platform {
using posix::OwnedFd;
namespace {

// Without an exit watch, the child's end is looked for in steps this long.
constexpr std::chrono::milliseconds kStep{5};

// Moves a descriptor out of the range of the standard streams, so that the
// child's dup2 actions cannot overwrite one pipe with another when this
// process runs with a standard stream closed.
bool moveAboveStdio(OwnedFd& fd) {
  if (fd.get() > 2) return true;
  const int moved = fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
  if (moved < 0) return false;
  fd = OwnedFd(moved);
  return true;
}

#if !defined(__linux__)
bool setCloexec(int fd) {
  const int flags = fcntl(fd, F_GETFD);
  return flags >= 0 && fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
}
#endif

bool setNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// A pipe whose ends are close-on-exec from the start (pipe2 where the system
// has it), so that no other child started meanwhile inherits them.
bool makePipe(OwnedFd& readEnd, OwnedFd& writeEnd) {
  int fds[2];
#if defined(__linux__)
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd = OwnedFd(fds[0]);
  writeEnd = OwnedFd(fds[1]);
#else
  if (pipe(fds) != 0) return false;
  readEnd = OwnedFd(fds[0]);
  writeEnd = OwnedFd(fds[1]);
  if (!setCloexec(fds[0]) || !setCloexec(fds[1])) return false;
#endif
  return moveAboveStdio(readEnd) && moveAboveStdio(writeEnd);
}

// How much the standard-output pipe is enlarged to, and how much one `read`
// takes from either pipe before it hands control back.
constexpr std::size_t kPipeBytes = 1024 * 1024;

enum class DrainResult { open, closed };

// Reads what the pipe holds now, up to about `kPipeBytes`. Keeps the last
// `tailBytes` of it in `tail` when there is one; the rest is discarded.
DrainResult drainTail(int fd, std::string* tail, std::size_t tailBytes) {
  char scratch[64 * 1024];
  for (std::size_t taken = 0; taken < kPipeBytes;) {
    const ssize_t n = ::read(fd, scratch, sizeof scratch);
    if (n > 0) {
      const std::size_t got = static_cast<std::size_t>(n);
      taken += got;
      if (tail != nullptr) {
        const std::size_t keep = std::min(got, tailBytes);
        tail->append(scratch + got - keep, keep);
        if (tail->size() > tailBytes) tail->erase(0, tail->size() - tailBytes);
      }
      continue;
    }
    if (n == 0) return DrainResult::closed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return DrainResult::open;
    return DrainResult::closed;  // a read error ends this stream
  }
  return DrainResult::open;
}

// A larger pipe lets a fast writer hand over more per wake-up of the reader.
// Where the system cannot (or will not) enlarge it, the default stays.
void enlargePipe([[maybe_unused]] int fd) {
#if defined(F_SETPIPE_SZ)
  ::fcntl(fd, F_SETPIPE_SZ, static_cast<int>(kPipeBytes));
#endif
}

// A descriptor that becomes readable when the child ends, so a wait for its
// end needs no polling: a pidfd on Linux, a kqueue watching the process's
// exit on macOS. None (-1) where neither is available; waits then poll.
int openExitWatch([[maybe_unused]] pid_t pid) {
#if defined(__linux__) && defined(SYS_pidfd_open)
  // Close-on-exec by construction.
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#elif defined(__APPLE__)
  const int queue = ::kqueue();
  if (queue < 0) return -1;
  struct kevent change;
  EV_SET(&change, pid, EVFILT_PROC, EV_ADD, NOTE_EXIT, 0, nullptr);
  if (::kevent(queue, &change, 1, nullptr, 0, nullptr) != 0 || !setCloexec(queue)) {
    ::close(queue);
    return -1;
  }
  return queue;
#else
  return -1;
#endif
}

class SpawnSetup {
 public:
  SpawnSetup() {
    actionsReady_ = posix_spawn_file_actions_init(&actions_) == 0;
    attrReady_ = posix_spawnattr_init(&attr_) == 0;
  }
  ~SpawnSetup() {
    if (actionsReady_) posix_spawn_file_actions_destroy(&actions_);
    if (attrReady_) posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool configure(int stdoutWrite, int stderrWrite) {
    if (!actionsReady_ || !attrReady_) return false;
    if (posix_spawn_file_actions_adddup2(&actions_, stdoutWrite, 1) != 0) return false;
    if (posix_spawn_file_actions_adddup2(&actions_, stderrWrite, 2) != 0) return false;

    short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    // The child inherits only descriptors 0, 1 and 2, also those that other
    // code of this process opened without close-on-exec.
#if defined(__APPLE__)
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    if (posix_spawn_file_actions_addinherit_np(&actions_, 0) != 0) return false;
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    if (posix_spawn_file_actions_addclosefrom_np(&actions_, 3) != 0) return false;
#endif
    if (posix_spawnattr_setflags(&attr_, flags) != 0) return false;
    // Its own process group (group id = its pid), so signals reach everything it starts.
    if (posix_spawnattr_setpgroup(&attr_, 0) != 0) return false;
    sigset_t none;
    sigemptyset(&none);
    if (posix_spawnattr_setsigmask(&attr_, &none) != 0) return false;
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    return posix_spawnattr_setsigdefault(&attr_, &defaults) == 0;
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
  bool actionsReady_ = false;
  bool attrReady_ = false;
};

}  // namespace

struct ChildProcess::State {
  OwnedFd stdoutFd;
  OwnedFd stderrFd;
  OwnedFd exitWatchFd;  // readable once the child has ended; -1 when there is none
  std::mutex mutex;     // guards the three fields below
  bool ended = false;
  bool reaped = false;
  ExitStatus status;
  // Used by `read` only.
  bool stdoutOpen = true;
  bool stderrOpen = true;
  std::unique_ptr<char[]> readBuffer;
};

std::unique_ptr<ChildProcess> ChildProcess::spawn(const std::string& executable,
                                                  const std::vector<std::string>& arguments) {
  OwnedFd outRead, outWrite, errRead, errWrite;
  if (!makePipe(outRead, outWrite) || !makePipe(errRead, errWrite)) return nullptr;
  if (!setNonBlocking(outRead.get()) || !setNonBlocking(errRead.get())) return nullptr;
  enlargePipe(outRead.get());

  SpawnSetup setup;
  if (!setup.configure(outWrite.get(), errWrite.get())) return nullptr;

  std::vector<char*> argv;
  argv.reserve(arguments.size() + 2);
  // posix_spawn takes non-const pointers but does not write through them.
  argv.push_back(const_cast<char*>(executable.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  // Started and registered as one step: a signal that ends this process
  // stops the group, and once the process has begun to end no child starts.
  const pid_t pid = posix::exitcleanup::startChildGroup([&]() -> int {
    pid_t started = 0;
    const int failed =
        posix_spawn(&started, executable.c_str(), setup.actions(), setup.attributes(), argv.data(), environ);
    return failed == 0 ? started : -1;
  });
  if (pid <= 0) return nullptr;
  // The child has its own copies; with ours closed, end of file arrives when
  // the child (and whatever it started) closes them.
  outWrite = OwnedFd();
  errWrite = OwnedFd();
  auto state = std::make_unique<State>();
  state->stdoutFd = std::move(outRead);
  state->stderrFd = std::move(errRead);
  state->exitWatchFd = OwnedFd(openExitWatch(pid));
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid, std::move(state)));
}

ChildProcess::ChildProcess(int pid, std::unique_ptr<State> state) : pid_(pid), state_(std::move(state)) {}

ChildProcess::~ChildProcess() {
  if (!state_->reaped) {
    signalGroup(SIGKILL);
    reap();
  }
}

bool ChildProcess::isRunning() {
  std::lock_guard lock(state_->mutex);
  return runningLocked();
}

bool ChildProcess::runningLocked() {
  if (state_->ended) return false;
  siginfo_t info{};
  int result;
  do {
    // WNOWAIT leaves the ended child a zombie until `reap`.
    result = waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
  } while (result == -1 && errno == EINTR);
  if (result == -1) {
    // ECHILD: reaped elsewhere (for example with SIGCHLD ignored); it is
    // gone, and its ids may already name another process.
    posix::exitcleanup::forgetChildGroup(pid_);
    state_->ended = true;
    state_->reaped = true;
    return false;
  }
  if (info.si_pid == 0) return true;
  state_->ended = true;
  return false;
}

bool ChildProcess::waitForExit(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (isRunning()) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    if (!state_->exitWatchFd.valid()) {
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kStep));
      continue;
    }
    // Rounded up, so the last wait does not end just short of the deadline.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    pollfd watch{state_->exitWatchFd.get(), POLLIN, 0};
    if (::poll(&watch, 1, static_cast<int>(std::min<long long>(wait, 60'000))) == -1 && errno != EINTR) {
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kStep));
    }
  }
  return true;
}

void ChildProcess::signalGroup(int signal) {
  // Once reaped, the ids may belong to someone else; the lock keeps `reap`
  // from freeing them between the test and the signal.
  std::lock_guard lock(state_->mutex);
  if (state_->reaped) return;
  if (::kill(-pid_, signal) == -1 && errno == ESRCH) {
    // The child left its group and the group is empty: reach the child itself.
    ::kill(pid_, signal);
  }
}

void ChildProcess::terminate() { signalGroup(SIGTERM); }

void ChildProcess::kill() { signalGroup(SIGKILL); }

ExitStatus ChildProcess::reap() {
  std::lock_guard lock(state_->mutex);
  if (state_->reaped) return state_->status;
  posix::exitcleanup::forgetChildGroup(pid_);  // the group id is free once reaped
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid_, &status, 0);
  } while (result == -1 && errno == EINTR);
  state_->ended = true;
  state_->reaped = true;
  if (result == pid_) {
    if (WIFEXITED(status)) state_->status.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) state_->status.signal = WTERMSIG(status);
  }
  return state_->status;
}

ChildProcess::ReadResult ChildProcess::read(std::chrono::milliseconds wait, const OutputHandler& onOutput,
                                            std::string* errorTail) {
  ReadResult result;
  result.open = state_->stdoutOpen || state_->stderrOpen;
  if (!result.open) return result;
  const bool watchExit = isRunning();
  if (watchExit && !state_->exitWatchFd.valid()) wait = std::min(wait, kStep);
  // poll skips entries with a negative descriptor.
  pollfd fds[3] = {{state_->stdoutOpen ? state_->stdoutFd.get() : -1, POLLIN, 0},
                   {state_->stderrOpen ? state_->stderrFd.get() : -1, POLLIN, 0},
                   {watchExit ? state_->exitWatchFd.get() : -1, POLLIN, 0}};
  const auto timeout = std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 60'000);
  if (::poll(fds, 3, static_cast<int>(timeout)) == -1) return result;  // EINTR: the caller reads again
  if (fds[0].revents != 0) {
    if (!state_->readBuffer) state_->readBuffer = std::make_unique_for_overwrite<char[]>(kReadBytes);
    while (result.outputBytes < kPipeBytes) {
      const ssize_t n = ::read(state_->stdoutFd.get(), state_->readBuffer.get(), kReadBytes);
      if (n > 0) {
        result.outputBytes += static_cast<std::size_t>(n);
        onOutput(std::string_view(state_->readBuffer.get(), static_cast<std::size_t>(n)));
        continue;
      }
      if (n == -1 && errno == EINTR) continue;
      // End of file or a read error ends the stream; EAGAIN: it is empty for now.
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) state_->stdoutOpen = false;
      break;
    }
  }
  if (fds[1].revents != 0 &&
      drainTail(state_->stderrFd.get(), errorTail, kErrorTailBytes) == DrainResult::closed) {
    state_->stderrOpen = false;
  }
  result.open = state_->stdoutOpen || state_->stderrOpen;
  return result;
}

void ChildProcess::readOutput(std::string& output, std::string* errorTail) {
  const auto append = [&output](std::string_view piece) { output.append(piece); };
  while (read(std::chrono::minutes(1), append, errorTail).open) {
  }
}

}  // namespace quillory::platform
