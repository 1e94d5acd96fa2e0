#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/Files.h"
#include "platform/posix/SingleInstanceLock.h"
#include "support/TempHome.h"

namespace quillory::platform::posix {
namespace {

namespace fs = std::filesystem;

// Whatever is in the lock file's place is refused with a reason and left as
// it was, with what it leads to: nothing is created, truncated or written.
// (A symbolic link, a folder, and a file where the folder belongs, and a
// second holder refused until the first lets go, the command-line end-to-end
// runs and the helper's own tests check.)
TEST(SingleInstanceLock, RefusesAnythingButItsOwnRegularFile) {
  testing::TempHome home;
  const fs::path victim = home.writeFile("victim", "precious");
  for (const std::string reason : {"hard links", "not a regular file"}) {
    const fs::path lockFile = home.makeFolder(reason) / ".quillory-helper.lock";
    reason == "hard links" ? fs::create_hard_link(victim, lockFile) : void(::mkfifo(lockFile.c_str(), 0600));
    SingleInstanceLock lock(lockFile, "quillory-helper");
    EXPECT_EQ(lock.outcome(), SingleInstanceLock::Outcome::unavailable) << reason;
    EXPECT_NE(lock.error().find(reason), std::string::npos) << lock.error();
  }
  EXPECT_EQ(files::readFile(victim), "precious");
}

}  // namespace
}  // namespace quillory::platform::posix
