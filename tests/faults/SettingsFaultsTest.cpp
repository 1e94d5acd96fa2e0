// Settings files that broke the reader, found by fuzz_defaults_file.

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
};

// A binary property list {"autoSyncEnabled": true, "sync_library_\0Café": true}
// whose second key, stored as UTF-16, holds a NUL character: libplist reads
// it, then aborts on an assertion when the keys are listed. Found by
// fuzz_defaults_file.
const std::string kKeyWithNul(
    "\x62\x70\x6c\x69\x73\x74\x30\x30\xd2\x01\x02\x03\x03\x5f\x10\x0f\x61\x75\x74\x6f\x53\x79\x6e\x63\x45\x6e"
    "\x61\x62\x6c\x65\x64\x6f\x10\x12\x00\x73\x00\x79\x00\x6e\x00\x63\x00\x5f\x00\x6c\x00\x69\x00\x62\x00\x72"
    "\x00\x61\x00\x72\x00\x79\x00\x5f\x00\x00\x00\x43\x00\x61\x00\x66\x00\xe9\x09\x08\x0d\x1f\x46\x00\x00\x00"
    "\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00\x04\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x47",
    107);

TEST_F(SettingsFaultTest, ListWithNulInAKeyIsMovedAsideWhole) {
  platform::files::atomicWrite(file, kKeyWithNul);
  PlistDefaults store(file, log, clock);
  EXPECT_TRUE(store.keys().empty());
  EXPECT_EQ(log.count(file.string() + " is not a property list of settings; moved it to "), 1u);
  EXPECT_EQ(platform::files::readFile(file.string() + ".corrupt-20261205T090000Z"), kKeyWithNul);
}

// A binary property list naming "autoSyncEnabled" twice, both true. Found by
// fuzz_defaults_file: the store changed one entry while a reload read the
// other, so switching Auto-sync off did not survive a relaunch.
const std::string kDuplicateKey(
    "\x62\x70\x6c\x69\x73\x74\x30\x30\xd2\x01\x02\x03\x03\x5f\x10\x0f\x61\x75\x74\x6f\x53\x79\x6e\x63\x45\x6e"
    "\x61\x62\x6c\x65\x64\x5f\x10\x0f\x61\x75\x74\x6f\x53\x79\x6e\x63\x45\x6e\x61\x62\x6c\x65\x64\x09\x08\x0d"
    "\x1f\x31\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00\x04\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x32",
    86);

TEST_F(SettingsFaultTest, KeyNamedTwiceInABinaryFileKeepsTheChangeAcrossARelaunch) {
  platform::files::atomicWrite(file, kDuplicateKey);
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
