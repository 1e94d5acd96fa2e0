// Children, and the end of the process. Ending is one-way (the child registry
// closes for good), so each case of it runs in a process of its own (a death
// test). (That a signal stops a script's whole group, after the grace or at
// once on a second signal, also while a stream is blocked, the command-line
// end-to-end runs check.)
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/ChildProcess.h"
#include "platform/posix/ExitCleanup.h"
#include "support/TempHome.h"

namespace quillory::platform::posix {
namespace {

using namespace std::chrono_literals;

// Children reaped by their owner, or by the system (SIGCHLD ignored), are
// forgotten: nothing is waited for or signalled (a freed id may name another
// process). Once the process has begun to end, a child is refused and none is
// left.
TEST(ExitCleanupTest, ForgetsReapedChildrenAndRefusesNewOnesOnceEnding) {
  EXPECT_EXIT(
      {
        if (auto reaped = ChildProcess::spawn("/bin/true", {})) reaped->reap();
        ::signal(SIGCHLD, SIG_IGN);
        auto elsewhere = ChildProcess::spawn("/bin/true", {});
        if (!elsewhere || !elsewhere->waitForExit(10s)) ::_exit(1);
        if (exitcleanup::stopChildGroups(0ms) != 0) ::_exit(2);
        if (ChildProcess::spawn("/bin/sleep", {"100"})) ::_exit(3);
        ::_exit(::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD ? 0 : 4);
      },
      ::testing::ExitedWithCode(0), "");
}

// A termination signal ends the process with 128 + the signal, removing the
// temporary files of writes in progress, also one whose creation the signal
// interrupts (its creation and registration are one step).
TEST(ExitCleanupTest, TerminationSignalEndsTheProcessWithoutTemporaryFiles) {
  quillory::testing::TempHome home;
  const std::filesystem::path temporary = home / ".qh-1-abcdef.tmp";
  EXPECT_EXIT(
      {
        exitcleanup::blockTerminationSignals();
        exitcleanup::watchTerminationSignals([](int signal) { exitcleanup::cleanUpAndExit(signal, 0ms); });
        exitcleanup::createTemporaryFile(temporary.string(), [&] {
          const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
          ::kill(::getpid(), SIGTERM);
          // Time for the signal to end the process, were the file not registered yet.
          std::this_thread::sleep_for(200ms);
          return fd;
        });
        std::this_thread::sleep_for(30s);
      },
      ::testing::ExitedWithCode(128 + SIGTERM), "");
  EXPECT_FALSE(std::filesystem::exists(temporary));
}

TEST(ChildProcessTest, EndedChildStaysUnreapedUntilReap) {
  // The zombie keeps the process-group id reserved, so signalling the group
  // before `reap` can never reach an unrelated process.
  auto child = ChildProcess::spawn("/bin/sh", {"-c", "exit 0"});
  ASSERT_TRUE(child && child->waitForExit(10s));
  EXPECT_EQ(::getpgid(child->pid()), child->pid());  // a zombie still, leading its own group
  child->kill();                                     // harmless on a zombie group
  EXPECT_EQ(child->reap().code, 0);
  EXPECT_EQ(::getpgid(child->pid()), -1);
}

// SIGTERM is blocked here while the children start, SIGPIPE ignored: each
// child must end by the signal it sends itself.
TEST(ChildProcessTest, ChildStartsWithSigpipeAtDefaultAndNothingBlocked) {
  sigset_t term, previous;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, &previous);
  ::signal(SIGPIPE, SIG_IGN);  // as the programs have it
  auto pipe = ChildProcess::spawn("/bin/sh", {"-c", "kill -PIPE $$; exit 3"});
  auto terminated = ChildProcess::spawn("/bin/sh", {"-c", "kill -TERM $$; exit 3"});
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ::signal(SIGPIPE, SIG_DFL);
  ASSERT_TRUE(pipe && terminated);
  EXPECT_EQ(pipe->reap().signal, SIGPIPE);
  EXPECT_EQ(terminated->reap().signal, SIGTERM);
}

// 8 MB of errors, then a last line: the tail holds the last 4 KiB, ending
// with that line, however much came before.
TEST(ChildProcessTest, KeepsOnlyTheEndOfAStandardErrorFlood) {
  auto child = ChildProcess::spawn(
      "/bin/sh", {"-c", "head -c 8000000 /dev/zero | tr '\\0' x >&2; echo last >&2; printf out"});
  std::string output, tail;
  child->readOutput(output, &tail);
  EXPECT_EQ(output + tail, "out" + std::string(ChildProcess::kErrorTailBytes - 5, 'x') + "last\n");
}

}  // namespace
}  // namespace quillory::platform::posix
