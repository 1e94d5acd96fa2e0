// A settings file that broke the store, found by fuzz_defaults_file and kept
// in its corpus (the others are in the store's table of unreadable files).

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/Files.h"
#include "platform/posix/PlistDefaults.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
#include "support/TempHome.h"

namespace quillory::faults::test {
namespace {

using platform::posix::PlistDefaults;

// A binary property list naming "autoSyncEnabled" twice, both true: the store
// changed one entry while a reload read the other, so switching Auto-sync off
// did not survive a relaunch.
TEST(SettingsFaultTest, KeyNamedTwiceInABinaryFileKeepsTheChangeAcrossARelaunch) {
  testing::TempHome home;
  testing::CapturingLog log;
  testing::FakeClock clock;
  const std::filesystem::path file = home / "test.plist";
  const std::filesystem::path seed = std::filesystem::path(QUILLORY_FUZZ_CORPUS) / "fuzz_defaults_file";
  platform::files::atomicWrite(file, platform::files::readFile(seed / "duplicate-key.plist").value());
  {
    PlistDefaults store(file, log, clock);
    EXPECT_EQ(store.value("autoSyncEnabled").asBool(), std::optional<bool>(true));
    EXPECT_EQ(store.keys().size(), 1u);
    store.setBool("autoSyncEnabled", false);
  }
  EXPECT_EQ(PlistDefaults(file, log, clock).value("autoSyncEnabled").asBool(), std::optional<bool>(false));
  EXPECT_EQ(log.lines(), std::vector<std::string>{});
}

}  // namespace
}  // namespace quillory::faults::test
