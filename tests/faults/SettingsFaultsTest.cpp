// Settings files the helper cannot read at launch: garbage, or lists that
// broke the reader. A helper launched over one moves it aside whole, starts
// with empty settings and works; one it can read keeps the user's changes.

#include <optional>
#include <string>

#include "faults/FaultFixture.h"
#include "platform/Files.h"

namespace quillory::faults::test {
namespace {

constexpr char kGarbageBytes[] = "bplist00\xff\x00 not settings at all <dict>";

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

class SettingsAtLaunchTest : public FaultTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(SettingsAtLaunchTest, UnreadableFileIsMovedAsideWhole) {
  const std::string& unreadable = GetParam();
  settleLibrary();
  ASSERT_EQ(syncNow(), std::nullopt);
  quit();
  platform::files::atomicWrite(settingsFile, unreadable);

  log.clear();
  launch();
  ASSERT_TRUE(log.contains("[Helper] \u26A0 Settings file " + settingsFile.string() +
                           " is not a property list of settings; moved it to "));
  const std::string line = log.lines().front();
  const std::string aside =
      line.substr(line.find("moved it to ") + 12, line.find(" and started") - line.find("moved it to ") - 12);
  EXPECT_EQ(platform::files::readFile(aside), std::optional<std::string>(unreadable));
  EXPECT_EQ(fs::path(aside).parent_path(), settingsFile.parent_path());

  // Settings are gone: the library is asked about again, then published.
  settleLibrary();
  expectNextSyncSucceeds();
  EXPECT_EQ(alerts->count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Faults, SettingsAtLaunchTest,
                         ::testing::Values(std::string(kGarbageBytes, sizeof kGarbageBytes - 1), kKeyWithNul),
                         [](const auto& info) {
                           return info.index == 0 ? "Garbage" : "BinaryListWithNulInAKey";
                         });

// A binary property list naming "autoSyncEnabled" twice, both true. Found by
// fuzz_defaults_file: the store changed one entry while a reload read the
// other, so switching Auto-sync off did not survive a relaunch.
const std::string kDuplicateKey(
    "\x62\x70\x6c\x69\x73\x74\x30\x30\xd2\x01\x02\x03\x03\x5f\x10\x0f\x61\x75\x74\x6f\x53\x79\x6e\x63\x45\x6e"
    "\x61\x62\x6c\x65\x64\x5f\x10\x0f\x61\x75\x74\x6f\x53\x79\x6e\x63\x45\x6e\x61\x62\x6c\x65\x64\x09\x08\x0d"
    "\x1f\x31\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00\x04\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x32",
    86);

TEST_F(FaultTest, KeyNamedTwiceInABinaryFileKeepsTheChangeAcrossARelaunch) {
  quit();
  platform::files::atomicWrite(settingsFile, kDuplicateKey);
  log.clear();
  defaults = std::make_unique<platform::posix::PlistDefaults>(settingsFile, log, clock);
  EXPECT_EQ(defaults->value("autoSyncEnabled").asBool(), std::optional<bool>(true));
  EXPECT_EQ(defaults->keys().size(), 1u);
  defaults->setBool("autoSyncEnabled", false);
  defaults.reset();

  platform::posix::PlistDefaults relaunched(settingsFile, log, clock);
  EXPECT_EQ(relaunched.value("autoSyncEnabled").asBool(), std::optional<bool>(false));
  EXPECT_EQ(log.size(), 0u);
}

}  // namespace
}  // namespace quillory::faults::test
