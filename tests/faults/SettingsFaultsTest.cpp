// A settings file that could break the store, kept in the settings fuzzer's
// corpus (the others are in the store's table of unreadable files).

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/Files.h"
#include "platform/posix/JsonDefaults.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
#include "support/TempHome.h"

namespace quillory::faults::test {
namespace {

using platform::posix::JsonDefaults;

// An object naming "autoSyncEnabled" twice: switching Auto-sync off must
// survive a relaunch, whichever entry a reader takes.
TEST(SettingsFaultTest, KeyNamedTwiceKeepsTheChangeAcrossARelaunch) {
  testing::TempHome home;
  testing::CapturingLog log;
  testing::FakeClock clock;
  const std::filesystem::path file = home / "settings.json";
  const std::filesystem::path seed = std::filesystem::path(QUILLORY_FUZZ_CORPUS) / "fuzz_settings_file";
  ASSERT_FALSE(platform::files::atomicWrite(file, platform::files::readFile(seed / "duplicate-key.json").value()));
  {
    JsonDefaults store(file, log, clock);
    EXPECT_EQ(store.value("autoSyncEnabled").asBool(), std::optional<bool>(true));
    EXPECT_EQ(store.keys().size(), 1u);
    EXPECT_TRUE(store.setBool("autoSyncEnabled", false));
  }
  EXPECT_EQ(JsonDefaults(file, log, clock).value("autoSyncEnabled").asBool(), std::optional<bool>(false));
  EXPECT_EQ(log.lines(), std::vector<std::string>{});
}

}  // namespace
}  // namespace quillory::faults::test
