#include <gtest/gtest.h>
#include <signal.h>
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

// The parameter: the child inherits SIGTERM ignored.
class StopChildGroupsTest : public ::testing::TestWithParam<bool> {};

// Every started child is stopped, with its whole group; one that ignores the
// termination request is killed once the grace period has passed.
TEST_P(StopChildGroupsTest, EndsEveryRegisteredGroup) {
  if (GetParam()) ::signal(SIGTERM, SIG_IGN);
  auto child = ChildProcess::spawn("/bin/sleep", {"100"});
  ::signal(SIGTERM, SIG_DFL);
  ASSERT_TRUE(child);
  exitcleanup::stopChildGroups(std::chrono::milliseconds(200));
  ASSERT_TRUE(child->waitForExit(std::chrono::seconds(10)));
  EXPECT_EQ(child->reap().signal, GetParam() ? SIGKILL : SIGTERM);
}

INSTANTIATE_TEST_SUITE_P(Scripts, StopChildGroupsTest, ::testing::Bool());

// A termination signal ends the process with 128 + the signal, removing the
// temporary files of writes in progress.
class TerminationSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(TerminationSignalTest, EndsTheProcessWithoutTemporaryFiles) {
  quillory::testing::TempHome home;
  const std::filesystem::path temporary = home.writeFile(".qh-1-abcdef.tmp", "partial");
  EXPECT_EXIT(
      {
        exitcleanup::blockTerminationSignals();
        exitcleanup::watchTerminationSignals(
            [](int signal) { exitcleanup::cleanUpAndExit(signal, std::chrono::milliseconds(0)); });
        exitcleanup::addTemporaryFile(temporary.string());
        ::kill(::getpid(), GetParam());
        std::this_thread::sleep_for(std::chrono::seconds(30));
      },
      ::testing::ExitedWithCode(128 + GetParam()), "");
  EXPECT_FALSE(std::filesystem::exists(temporary));
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminationSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

}  // namespace
}  // namespace quillory::platform::posix
