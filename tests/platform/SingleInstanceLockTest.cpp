#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/posix/SingleInstanceLock.h"
#include "support/TempHome.h"

extern char** environ;

namespace quillory::platform::posix {
namespace {

using testing::TempHome;

TEST(SingleInstanceLock, CreatesItsFolderAndRefusesASecondHolderUntilReleased) {
  TempHome home;
  const auto file = home / "config/quillory-helper/quillory-helper.lock";
  {
    SingleInstanceLock first(file);
    ASSERT_TRUE(first.acquired()) << first.error();

    SingleInstanceLock second(file);
    EXPECT_EQ(second.outcome(), SingleInstanceLock::Outcome::heldElsewhere);
    EXPECT_EQ(second.holderPid(), static_cast<long>(::getpid()));
  }
  SingleInstanceLock again(file);
  EXPECT_TRUE(again.acquired());
  EXPECT_TRUE(std::filesystem::exists(file)) << "the lock file is never removed";
}

TEST(SingleInstanceLock, ReleasedLockLeavesNoStalePid) {
  TempHome home;
  const auto file = home / "quillory-helper.lock";
  { SingleInstanceLock lock(file); }
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
}

TEST(SingleInstanceLock, FolderThatIsAFileMakesItUnavailableWithAReason) {
  TempHome home;
  home.writeFile("config", "not a folder");
  SingleInstanceLock lock(home / "config/quillory-helper.lock");
  EXPECT_EQ(lock.outcome(), SingleInstanceLock::Outcome::unavailable);
  EXPECT_NE(lock.error().find("config"), std::string::npos) << lock.error();
}

TEST(SingleInstanceLock, LockFileThatIsAFolderMakesItUnavailable) {
  TempHome home;
  home.makeFolder("quillory-helper.lock");
  SingleInstanceLock lock(home / "quillory-helper.lock");
  EXPECT_EQ(lock.outcome(), SingleInstanceLock::Outcome::unavailable);
  EXPECT_FALSE(lock.error().empty());
}

// A child process (the script launcher) must not keep the lock alive after
// the helper released it or died.
TEST(SingleInstanceLock, ChildProcessesDoNotInheritTheLock) {
  TempHome home;
  const auto file = home / "quillory-helper.lock";
  pid_t child = -1;
  {
    SingleInstanceLock lock(file);
    ASSERT_TRUE(lock.acquired());
    char sleepPath[] = "/bin/sleep";
    char seconds[] = "30";
    char* argv[] = {sleepPath, seconds, nullptr};
    ASSERT_EQ(::posix_spawn(&child, sleepPath, nullptr, nullptr, argv, environ), 0);
  }
  SingleInstanceLock next(file);
  EXPECT_TRUE(next.acquired()) << "the child still holds the lock";
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

TEST(SingleInstanceLock, LivesNextToTheSettingsFile) {
  EXPECT_EQ(lockFileFor("/h/.config/quillory-helper/test.quillory.helper.plist"),
            std::filesystem::path("/h/.config/quillory-helper/quillory-helper.lock"));
}

}  // namespace
}  // namespace quillory::platform::posix
