// Settings files that broke the reader, found by fuzz_defaults_file and kept
// in its corpus.

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

struct SettingsFaultTest : ::testing::Test {
  testing::TempHome home;
  testing::CapturingLog log;
  testing::FakeClock clock;
  const std::filesystem::path file = home / "test.plist";
  // A file of the fuzzer's corpus (throws when it is missing).
  static std::string seed(const char* name) {
    return platform::files::readFile(std::filesystem::path(QUILLORY_FUZZ_CORPUS) / "fuzz_defaults_file" /
                                     name)
        .value();
  }
};

// A binary property list {"autoSyncEnabled": true, "sync_library_\0Café": true}
// whose second key, stored as UTF-16, holds a NUL character: libplist reads
// it, then aborts on an assertion when the keys are listed.
TEST_F(SettingsFaultTest, ListWithNulInAKeyIsMovedAsideWhole) {
  const std::string bytes = seed("utf16-key-with-nul.plist");
  platform::files::atomicWrite(file, bytes);
  PlistDefaults store(file, log, clock);
  EXPECT_TRUE(store.keys().empty());
  EXPECT_EQ(log.count(file.string() + " is not a property list of settings; moved it to "), 1u);
  EXPECT_EQ(platform::files::readFile(file.string() + ".corrupt-20261205T090000Z"), bytes);
}

// A binary property list naming "autoSyncEnabled" twice, both true: the store
// changed one entry while a reload read the other, so switching Auto-sync off
// did not survive a relaunch.
TEST_F(SettingsFaultTest, KeyNamedTwiceInABinaryFileKeepsTheChangeAcrossARelaunch) {
  platform::files::atomicWrite(file, seed("duplicate-key.plist"));
  {
    PlistDefaults store(file, log, clock);
    EXPECT_EQ(store.value("autoSyncEnabled").asBool(), std::optional<bool>(true));
    EXPECT_EQ(store.keys().size(), 1u);
    store.setBool("autoSyncEnabled", false);
  }
  EXPECT_EQ(PlistDefaults(file, log, clock).value("autoSyncEnabled").asBool(), std::optional<bool>(false));
  EXPECT_EQ(log.size(), 0u);
}

}  // namespace
}  // namespace quillory::faults::test
