#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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
  EXPECT_EQ(std::filesystem::file_size(file), 0u) << "a released lock leaves no stale pid";
  SingleInstanceLock again(file);
  EXPECT_TRUE(again.acquired());
  EXPECT_EQ(lockFileFor("/h/.config/quillory-helper/test.quillory.helper.plist"),
            std::filesystem::path("/h/.config/quillory-helper/quillory-helper.lock"));
}

TEST(SingleInstanceLock, AFileOrFolderInTheWayMakesItUnavailableWithAReason) {
  TempHome home;
  home.writeFile("config", "not a folder");
  SingleInstanceLock underAFile(home / "config/quillory-helper.lock");
  EXPECT_EQ(underAFile.outcome(), SingleInstanceLock::Outcome::unavailable);
  EXPECT_NE(underAFile.error().find("config"), std::string::npos) << underAFile.error();
  home.makeFolder("quillory-helper.lock");
  SingleInstanceLock aFolder(home / "quillory-helper.lock");
  EXPECT_EQ(aFolder.outcome(), SingleInstanceLock::Outcome::unavailable);
  EXPECT_FALSE(aFolder.error().empty());
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

}  // namespace
}  // namespace quillory::platform::posix
