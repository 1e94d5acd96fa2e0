#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "platform/posix/SingleInstanceLock.h"
#include "support/TempHome.h"

extern char** environ;

namespace quillory::platform::posix {
namespace {

using testing::TempHome;
namespace fs = std::filesystem;
using files::readFile;

TEST(SingleInstanceLock, RefusesASecondHolderNamingTheFirstUntilReleased) {
  TempHome home;
  const auto file = defaultLockFile(home.path());
  EXPECT_EQ(file, home / ".quillory-helper.lock");
  {
    SingleInstanceLock first(file, "quillory-helper-cli");
    ASSERT_TRUE(first.acquired()) << first.error();
    SingleInstanceLock second(file, "quillory-helper");
    EXPECT_EQ(second.outcome(), SingleInstanceLock::Outcome::heldElsewhere);
    EXPECT_EQ(second.holderPid(), static_cast<long>(::getpid()));
    EXPECT_EQ(second.holderProgram(), "quillory-helper-cli");
    EXPECT_EQ(second.retry(), SingleInstanceLock::Outcome::heldElsewhere);
  }
  EXPECT_EQ(readFile(file).value_or("x").find_first_not_of(" \n"), std::string::npos)
      << "a released lock leaves no stale record";
  SingleInstanceLock again(file, "quillory-helper");
  EXPECT_TRUE(again.acquired());
}

// Whatever is in the lock file's place is refused with a reason and left as
// it was, with what it leads to: nothing is created, truncated or written.
TEST(SingleInstanceLock, RefusesAnythingButItsOwnRegularFile) {
  TempHome home;
  const fs::path victim = home.writeFile("victim", "precious");
  const std::string kName = ".quillory-helper.lock";
  const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> cases = {
      {"symbolic link", [&](const fs::path& folder) { fs::create_symlink(victim, folder / kName); }},
      {"symbolic link",
       [&](const fs::path& folder) { fs::create_symlink(home / "nowhere", folder / kName); }},
      {"hard links", [&](const fs::path& folder) { fs::create_hard_link(victim, folder / kName); }},
      {"folder", [&](const fs::path& folder) { fs::create_directory(folder / kName); }},
      {"not a regular file", [&](const fs::path& folder) { ::mkfifo((folder / kName).c_str(), 0600); }},
      {"Not a directory", [&](const fs::path& folder) { fs::remove(folder), home.writeFile(folder, "x"); }},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const fs::path folder = home.makeFolder(std::to_string(i));
    cases[i].second(folder);
    SingleInstanceLock lock(folder / kName, "quillory-helper");
    EXPECT_EQ(lock.outcome(), SingleInstanceLock::Outcome::unavailable) << cases[i].first;
    EXPECT_NE(lock.error().find(cases[i].first), std::string::npos) << lock.error();
  }
  EXPECT_EQ(readFile(victim), "precious");
  EXPECT_FALSE(fs::exists(home / "nowhere"));
}

// A child process (the script launcher) must not keep the lock alive after
// the helper released it or died.
TEST(SingleInstanceLock, ChildProcessesDoNotInheritTheLock) {
  TempHome home;
  const auto file = home / "quillory-helper.lock";
  pid_t child = -1;
  {
    SingleInstanceLock lock(file, "quillory-helper");
    ASSERT_TRUE(lock.acquired());
    char sleepPath[] = "/bin/sleep";
    char seconds[] = "30";
    char* argv[] = {sleepPath, seconds, nullptr};
    ASSERT_EQ(::posix_spawn(&child, sleepPath, nullptr, nullptr, argv, environ), 0);
  }
  SingleInstanceLock next(file, "quillory-helper");
  EXPECT_TRUE(next.acquired()) << "the child still holds the lock";
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace quillory::platform::posix
