#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/Files.h"
#include "platform/posix/PlistDefaults.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
#include "support/TempHome.h"

namespace quillory::platform::posix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr const char* kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

std::string plistXml(const std::string& dictBody) {
  return kHeader + ("<dict>" + dictBody + "</dict></plist>\n");
}

class PlistDefaultsTest : public ::testing::Test {
 protected:
  std::unique_ptr<PlistDefaults> open() { return std::make_unique<PlistDefaults>(file_, log_, clock_); }

  testing::TempHome home_;
  fs::path file_ = home_ / ".config" / "quillory-helper" / "test.quillory.helper.plist";
  testing::CapturingLog log_;
  testing::FakeClock clock_;
};

// Values of types the program does not use survive its saves.
TEST_F(PlistDefaultsTest, ValuesSurviveAReloadBesideValuesOfOtherTypes) {
  const Date synced = sys_days{year{2026} / December / 5} + hours{11} + minutes{32} + seconds{21};
  const std::string cafe = "library_filename_Caf\xC3\xA9 & <Co>";
  home_.writeFile(file_, plistXml("<key>count</key><integer>-5</integer><key>blob</key><data>AAEC/w==</data>"
                                  "<key>list</key><array><integer>1</integer><true/></array>"
                                  "<key>nested</key><dict><key>b</key><dict/></dict>"
                                  "<key>autoSyncEnabled</key><string>yes</string>"));
  {
    auto store = open();
    store->setBool("autoSyncEnabled", false);  // replaces a value of the wrong type
    store->setString(cafe, "caf\xC3\xA9-eur");
    store->setDate("lastSyncDate", synced + milliseconds(750));  // kept to the whole second
    store->setBool("gone", true);
    store->remove("gone");
  }
  auto store = open();
  EXPECT_EQ(store->value("autoSyncEnabled").asBool(), false);
  EXPECT_EQ(store->value(cafe).asString(), "caf\xC3\xA9-eur");
  EXPECT_EQ(store->value("lastSyncDate").asDate(), synced);
  EXPECT_THAT(store->keys(), ::testing::UnorderedElementsAre("count", "blob", "list", "nested",
                                                             "autoSyncEnabled", cafe, "lastSyncDate"));
}

std::string nestedXml(int levels) {
  std::string arrays;
  for (int i = 0; i < levels; ++i) arrays += "<array>";
  for (int i = 0; i < levels; ++i) arrays += "</array>";
  return plistXml("<key>a</key>" + arrays);
}

// A seed file of the settings file fuzzer; a missing one fails the test.
std::string fuzzSeed(const char* name) {
  return files::readFile(fs::path(QUILLORY_FUZZ_CORPUS) / "fuzz_defaults_file" / name).value();
}

TEST_F(PlistDefaultsTest, UnreadableFileIsMovedAsideAndStoreStartsEmpty) {
  const fs::path aside = file_.parent_path() / "test.quillory.helper.plist.corrupt-20261205T090000Z";
  const std::pair<const char*, std::string> cases[] = {
      {"garbage", "not a property list"},
      {"empty", ""},
      {"truncated", plistXml("<key>a</key><true/><key>b</key><string>x</string>").substr(0, 200)},
      {"array at the top", std::string(kHeader) + "<array><true/></array></plist>\n"},
      // libplist would recurse until the stack overflows, or copy the shared
      // arrays 2^64 times.
      {"deep XML", nestedXml(200000)},
      {"deep binary", fuzzSeed("deep-nesting.binary.plist")},
      {"shared binary", fuzzSeed("timeout-shared-arrays.binary.plist")},
      {"NUL in a UTF-16 key, on which libplist aborts when listing", fuzzSeed("utf16-key-with-nul.plist")},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    home_.writeFile(file_, bytes);
    log_.clear();
    EXPECT_TRUE(open()->keys().empty());
    EXPECT_EQ(log_.count("; moved it to " + aside.string()), 1u);
    EXPECT_EQ(files::readFile(aside), bytes);
    EXPECT_FALSE(files::exists(file_));
    fs::remove(aside);
  }
  // Nesting up to the bound is read.
  home_.writeFile(file_, nestedXml(250));
  EXPECT_EQ(open()->keys(), std::vector<std::string>{"a"});
}

TEST_F(PlistDefaultsTest, MovingAsideNeverOverwritesAnEarlierCopyNorTheFileItCouldNotMove) {
  const fs::path folder = file_.parent_path();
  home_.writeFile(file_, "first");
  open();
  home_.writeFile(file_, "second");
  open();
  home_.makeFolder(file_);  // a folder where the file belongs
  open()->setBool("k", true);
  EXPECT_EQ(files::readFile(folder / "test.quillory.helper.plist.corrupt-20261205T090000Z"), "first");
  EXPECT_EQ(files::readFile(folder / "test.quillory.helper.plist.corrupt-20261205T090000Z-2"), "second");
  EXPECT_TRUE(fs::is_directory(folder / "test.quillory.helper.plist.corrupt-20261205T090000Z-3"));
  EXPECT_EQ(open()->value("k").asBool(), true);
  EXPECT_EQ(log_.count("[Helper] \xE2\x9A\xA0"), 3u);

  // Where it cannot be moved aside (here its aside name would be too long),
  // no save may replace it: the settings live in memory only.
  file_ = folder / std::string(240, 'n');
  home_.writeFile(file_, "garbage");
  auto store = open();
  EXPECT_EQ(log_.count("could not be moved aside (File name too long); settings will not be saved"), 1u);
  store->setBool("k", true);
  EXPECT_EQ(store->value("k").asBool(), true);
  EXPECT_EQ(files::readFile(file_), "garbage");
}

TEST_F(PlistDefaultsTest, FailedSaveLeavesPreviousFileAndKeepsValueInMemory) {
  auto store = open();
  store->setString("library_path_A", "/a");
  const fs::path folder = file_.parent_path();
  const std::string before = *files::readFile(file_);

  // The settings folder is replaced by a regular file: the save cannot happen.
  fs::rename(folder, home_ / "moved");
  home_.writeFile(folder, "in the way");
  store->setString("library_path_B", "/b");
  EXPECT_EQ(store->value("library_path_B").asString(), "/b");
  EXPECT_EQ(log_.count("[Helper] \xE2\x9A\xA0 Could not save settings to "), 1u);
  EXPECT_EQ(files::readFile(home_ / "moved" / file_.filename()), before);
}

TEST_F(PlistDefaultsTest, TextsWithNulAreRefused) {
  auto store = open();
  store->setString(std::string("a\0b", 3), "v");
  store->setString("k", std::string("v\0w", 3));
  EXPECT_TRUE(store->value("a").isAbsent());
  EXPECT_TRUE(store->value("k").isAbsent());
  EXPECT_EQ(log_.count("[Helper] \xE2\x9A\xA0"), 2u);
}

TEST_F(PlistDefaultsTest, ConcurrentWritersLoseNothing) {
  {
    auto store = open();
    std::vector<std::jthread> threads;
    for (int t = 0; t < 40; t += 10) {
      threads.emplace_back([&, t] {
        for (int i = t; i < t + 10; ++i)
          store->setString(std::to_string(i), store->keys().empty() ? "" : "v");
      });
    }
  }
  EXPECT_EQ(open()->keys().size(), 40u);
}

// An unset or relative XDG_CONFIG_HOME stands for ~/.config.
TEST(DefaultsFileTest, FollowsXdgConfigHomeWhenAbsolute) {
  EXPECT_EQ(defaultsFileFor("/home/u", "relative/cfg"),
            "/home/u/.config/quillory-helper/test.quillory.helper.plist");
  EXPECT_EQ(defaultsFileFor("/home/u", "/xdg"), fs::path("/xdg/quillory-helper/test.quillory.helper.plist"));
}

}  // namespace
}  // namespace quillory::platform::posix
