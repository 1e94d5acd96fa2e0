#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>

#include "platform/posix/ChildProcess.h"

namespace quillory::platform::posix {
namespace {

TEST(ChildProcessTest, EndedChildStaysUnreapedUntilReap) {
  // The zombie keeps the process-group id reserved, so signalling the group
  // before `reap` can never reach an unrelated process.
  auto child = ChildProcess::spawn("/bin/sh", {"-c", "exit 0"});
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->waitForExit(std::chrono::seconds(10)));
  EXPECT_FALSE(child->isRunning());
  EXPECT_EQ(::getpgid(child->pid()), child->pid());  // a zombie still, leading its own group
  child->kill();                                     // harmless on a zombie group
  EXPECT_EQ(child->reap().code, 0);
  EXPECT_EQ(::getpgid(child->pid()), -1);
}

std::uint64_t signalMask(const std::string& status, const std::string& field) {
  std::istringstream lines(status);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1), nullptr, 16);
  }
  return ~std::uint64_t{0};
}

TEST(ChildProcessTest, ChildStartsWithSigpipeAtDefaultAndNothingBlocked) {
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &term, &previous);
  auto child = ChildProcess::spawn("/bin/cat", {"/proc/self/status"});
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_TRUE(child);
  std::string status;
  child->readOutput(status);
  child->reap();

  const std::uint64_t sigpipeBit = std::uint64_t{1} << (SIGPIPE - 1);
  EXPECT_EQ(signalMask(status, "SigIgn") & sigpipeBit, 0u);
  EXPECT_EQ(signalMask(status, "SigBlk"), 0u);
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

TEST(ChildProcessTest, WritingIntoAClosedPipeFailsInsteadOfEndingTheProcess) {
  auto child = ChildProcess::spawn("/bin/sh", {"-c", "exit 0"});  // starting a child sets the disposition up
  ASSERT_TRUE(child);
  child->reap();
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  EXPECT_EQ(::write(fds[1], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  ::close(fds[1]);
}

}  // namespace
}  // namespace quillory::platform::posix
