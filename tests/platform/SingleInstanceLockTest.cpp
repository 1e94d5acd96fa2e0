#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <utility>
#include <vector>

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
  const std::string kName = ".quillory-helper.lock";
  const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> cases = {
      {"hard links", [&](const fs::path& folder) { fs::create_hard_link(victim, folder / kName); }},
      {"not a regular file", [&](const fs::path& folder) { ::mkfifo((folder / kName).c_str(), 0600); }},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const fs::path folder = home.makeFolder(std::to_string(i));
    cases[i].second(folder);
    SingleInstanceLock lock(folder / kName, "quillory-helper");
    EXPECT_EQ(lock.outcome(), SingleInstanceLock::Outcome::unavailable) << cases[i].first;
    EXPECT_NE(lock.error().find(cases[i].first), std::string::npos) << lock.error();
  }
  EXPECT_EQ(files::readFile(victim), "precious");
}

}  // namespace
}  // namespace quillory::platform::posix
