#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/ChildProcess.h"
#include "platform/posix/ExitCleanup.h"
#include "support/TempHome.h"

namespace quillory::platform::posix {
namespace {

// A child that ignores the termination request is killed, with its whole
// group, once the grace period has passed. (That a script's group is stopped
// when the process is asked to end, the command-line end-to-end runs check.)
TEST(ExitCleanupTest, StopChildGroupsKillsAChildIgnoringSigterm) {
  ::signal(SIGTERM, SIG_IGN);  // inherited by the child
  auto child = ChildProcess::spawn("/bin/sleep", {"100"});
  ::signal(SIGTERM, SIG_DFL);
  ASSERT_TRUE(child);
  exitcleanup::stopChildGroups(std::chrono::milliseconds(200));
  ASSERT_TRUE(child->waitForExit(std::chrono::seconds(10)));
  EXPECT_EQ(child->reap().signal, SIGKILL);
}

// A termination signal ends the process with 128 + the signal, removing the
// temporary files of writes in progress. (The other signals watched, the
// end-to-end runs check.)
TEST(ExitCleanupTest, TerminationSignalEndsTheProcessWithoutTemporaryFiles) {
  quillory::testing::TempHome home;
  const std::filesystem::path temporary = home.writeFile(".qh-1-abcdef.tmp", "partial");
  EXPECT_EXIT(
      {
        exitcleanup::blockTerminationSignals();
        exitcleanup::watchTerminationSignals(
            [](int signal) { exitcleanup::cleanUpAndExit(signal, std::chrono::milliseconds(0)); });
        exitcleanup::addTemporaryFile(temporary.string());
        ::kill(::getpid(), SIGTERM);
        std::this_thread::sleep_for(std::chrono::seconds(30));
      },
      ::testing::ExitedWithCode(128 + SIGTERM), "");
  EXPECT_FALSE(std::filesystem::exists(temporary));
}

}  // namespace
}  // namespace quillory::platform::posix
