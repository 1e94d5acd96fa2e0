#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/ChildProcess.h"

namespace quillory::platform::posix {
namespace {

TEST(ChildProcessTest, EndedChildStaysUnreapedUntilReap) {
  // The zombie keeps the process-group id reserved, so signalling the group
  // before `reap` can never reach an unrelated process.
  auto child = ChildProcess::spawn("/bin/sh", {"-c", "exit 0"});
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->waitForExit(std::chrono::seconds(10)));
  EXPECT_EQ(::getpgid(child->pid()), child->pid());  // a zombie still, leading its own group
  child->kill();                                     // harmless on a zombie group
  EXPECT_EQ(child->reap().code, 0);
  EXPECT_EQ(::getpgid(child->pid()), -1);
}

// SIGTERM is blocked here while the children start, SIGPIPE ignored: each
// child must end by the signal it sends itself.
TEST(ChildProcessTest, ChildStartsWithSigpipeAtDefaultAndNothingBlocked) {
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigset_t previous;
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

TEST(ChildProcessTest, KeepsOnlyTheEndOfAStandardErrorFlood) {
  // 8 MB of errors, then a last line: the tail holds the last 4 KiB, ending
  // with that line, however much came before.
  auto child = ChildProcess::spawn(
      "/bin/sh", {"-c", "head -c 8000000 /dev/zero | tr '\\0' x >&2; echo last >&2; printf out"});
  ASSERT_TRUE(child);
  std::string output;
  std::string tail;
  child->readOutput(output, &tail);
  child->reap();
  EXPECT_EQ(output, "out");
  EXPECT_EQ(tail, std::string(ChildProcess::kErrorTailBytes - 5, 'x') + "last\n");
}

}  // namespace
}  // namespace quillory::platform::posix
