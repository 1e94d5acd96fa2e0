#include "platform/posix/ExitCleanup.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

namespace quillory::platform::posix::exitcleanup {
namespace {

struct Registry {
  std::mutex mutex;
  std::set<int> groups;
  std::set<std::string> files;
  bool stopping = false;   // stopChildGroups has begun: no group is added any more
  bool removing = false;   // removeTemporaryFiles has run
  std::size_t steps = 0;   // whole steps begun and not ended
  bool finishing = false;  // finishWholeSteps has begun: no step begins
  std::condition_variable stepEnded;
};

// Never destroyed: a signal may end the process while other threads still
// register and forget, also during static destruction.
Registry& registry() {
  static Registry* const instance = new Registry;
  return *instance;
}

// Set once `cleanUpAndExit` has begun.
std::atomic<bool>& ending() {
  static std::atomic<bool> flag{false};
  return flag;
}

// The termination signals this process answers: those it did not inherit as
// ignored. A process started by `nohup` (SIGHUP ignored) or as a background
// job of a script (SIGINT ignored) keeps ignoring them, as its starter asked;
// a blocked signal is never discarded, so taking it with sigwait would undo
// that ignoring, and only once the mask was set (one sent earlier is lost).
sigset_t terminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction inherited {};
    if (::sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    sigaddset(&set, signal);
  }
  return set;
}

// Called with the mutex held: a registered group has not been reaped, so its
// id still names this child's group.
void signalGroup(int group, int signal) {
  if (::kill(-group, signal) == -1 && errno == ESRCH) ::kill(group, signal);
}

// Standard output and error go to /dev/null from here on: a run that fails
// because its script was stopped prints nothing, and a stream another thread
// is blocked on is never waited for (no stdio call is made).
void silenceStandardOutput() {
  const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull < 0) return;
  ::dup2(devNull, STDOUT_FILENO);
  ::dup2(devNull, STDERR_FILENO);
  if (devNull > STDERR_FILENO) ::close(devNull);
}

// Ends the process at once with the status, running nothing of this process
// (no exit handlers, no stdio flush). On Linux the system call itself: a
// sanitizer's interposed `_exit` flushes stdio first, which waits forever for
// a stream another thread is blocked writing to.
[[noreturn]] void endNow(int status) {
#if defined(__linux__)
  ::syscall(SYS_exit_group, status);
#endif
  ::_exit(status);
}

// A second termination signal: no more grace.
[[noreturn]] void killAndExit(int signal) {
  silenceStandardOutput();
  Registry& r = registry();
  {
    std::lock_guard lock(r.mutex);
    r.stopping = true;
    for (const int group : r.groups) signalGroup(group, SIGKILL);
  }
  removeTemporaryFiles();
  endNow(128 + signal);
}

}  // namespace

int startChildGroup(const std::function<int()>& start) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (r.stopping) return -1;
  const int pid = start();
  if (pid > 0) r.groups.insert(pid);
  return pid;
}

void forgetChildGroup(int group) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.groups.erase(group);
}

int createTemporaryFile(const std::string& path, const std::function<int()>& create) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (r.removing) {
    errno = ECANCELED;
    return -1;
  }
  const int fd = create();
  if (fd >= 0) r.files.insert(path);
  return fd;
}

bool beginWholeStep() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (r.finishing) return false;
  ++r.steps;
  return true;
}

void endWholeStep() {
  Registry& r = registry();
  {
    std::lock_guard lock(r.mutex);
    if (r.steps > 0) --r.steps;
  }
  r.stepEnded.notify_all();
}

bool finishWholeSteps(std::chrono::milliseconds bound) {
  Registry& r = registry();
  std::unique_lock lock(r.mutex);
  r.finishing = true;
  return r.stepEnded.wait_for(lock, bound, [&r] { return r.steps == 0; });
}

void forgetTemporaryFile(const std::string& path) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.files.erase(path);
}

std::size_t stopChildGroups(std::chrono::milliseconds grace) {
  Registry& r = registry();
  {
    std::lock_guard lock(r.mutex);
    r.stopping = true;
    for (const int group : r.groups) signalGroup(group, SIGTERM);
  }
  // Their owners reap them once they end, which forgets them; none is added.
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (true) {
    {
      std::lock_guard lock(r.mutex);
      if (r.groups.empty()) return 0;
      if (std::chrono::steady_clock::now() >= deadline) {
        for (const int group : r.groups) signalGroup(group, SIGKILL);
        return r.groups.size();
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void removeTemporaryFiles() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.removing = true;
  for (const std::string& file : r.files) ::unlink(file.c_str());
  r.files.clear();
}

void blockTerminationSignals() {
  const sigset_t set = terminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void watchTerminationSignals(std::function<void(int signal)> onSignal) {
  static std::once_flag once;
  std::call_once(once, [&] {
    const sigset_t set = terminationSignals();
    const auto watched = [&set](int signal) { return sigismember(&set, signal) == 1; };
    if (!watched(SIGTERM) && !watched(SIGINT) && !watched(SIGHUP))
      return;  // all ignored: nothing to wait for
    std::thread([onSignal = std::move(onSignal), set] {
      // Blocked here too, whatever the starting thread had: sigwait takes
      // only blocked signals.
      pthread_sigmask(SIG_BLOCK, &set, nullptr);
      bool first = true;
      while (true) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        if (!std::exchange(first, false)) killAndExit(signal);
        // Handled on a thread of its own, so this one stays free for a second signal.
        try {
          std::thread([&onSignal, signal] { onSignal(signal); }).detach();
        } catch (const std::system_error&) {
          onSignal(signal);
        }
      }
    }).detach();
  });
}

void cleanUpAndExit(int signal, std::chrono::milliseconds grace) {
  ending().store(true);
  // Stopping the script makes the run fail on its way out; that failure is
  // not the outcome (the signal is), so nothing more is printed.
  silenceStandardOutput();
  finishWholeSteps(kWholeStepBound);
  stopChildGroups(grace);
  removeTemporaryFiles();
  endNow(128 + signal);
}

void awaitCleanUpAndExit() {
  while (ending().load()) std::this_thread::sleep_for(std::chrono::seconds(1));
}

}  // namespace quillory::platform::posix::exitcleanup
