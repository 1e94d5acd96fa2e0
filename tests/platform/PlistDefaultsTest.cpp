#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdint>
#include <set>
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
using testing::CapturingLog;
using testing::FakeClock;
using testing::TempHome;
using namespace std::chrono;

constexpr const char* kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

std::string plistXml(const std::string& dictBody) {
  return kHeader + ("<dict>" + dictBody + "</dict></plist>\n");
}

// The file's property list written back in libplist's canonical XML.
std::string canonicalXml(const fs::path& file) {
  const std::string bytes = files::readFile(file).value_or("");
  plist_t root = nullptr;
  plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  if (root == nullptr) return "<unparsable>";
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root, &xml, &length);
  std::string result(xml, length);
  plist_to_xml_free(xml);
  plist_free(root);
  return result;
}

class PlistDefaultsTest : public ::testing::Test {
 protected:
  std::unique_ptr<PlistDefaults> open() { return std::make_unique<PlistDefaults>(file_, log_, clock_); }
  std::set<std::string> folderNames() const {
    auto names = files::listFolder(file_.parent_path());
    return names ? std::set<std::string>(names->begin(), names->end()) : std::set<std::string>{};
  }

  TempHome home_;
  fs::path file_ = home_ / ".config" / "quillory-helper" / "test.quillory.helper.plist";
  CapturingLog log_;
  FakeClock clock_;
};

TEST_F(PlistDefaultsTest, StartsEmptyAndValuesSurviveAReload) {
  const Date synced = sys_days{year{2026} / December / 5} + hours{11} + minutes{32} + seconds{21};
  const Date early = sys_days{year{1990} / January / 2} + hours{3};  // before the format's 2001 epoch
  const std::string cafe = "library_filename_Caf\xC3\xA9 & <Co>";
  {
    // A missing file is an empty store; removing an absent key writes nothing.
    auto store = open();
    EXPECT_TRUE(store->keys().empty());
    store->remove("nothing");
    EXPECT_FALSE(files::exists(file_));
    store->setBool("autoSyncEnabled", false);
    store->setString(cafe, "caf\xC3\xA9-eur");
    store->setString("empty", "");
    store->setDate("lastSyncDate", synced + milliseconds(750));  // kept to the whole second
    store->setDate("early", early);
    // The format's 32-bit seconds: dates beyond are clamped to its ends.
    store->setDate("past", sys_days{year{1800} / January / 1});
    store->setDate("future", sys_days{year{2200} / January / 1});
    store->setBool("gone", true);
    store->remove("gone");
    EXPECT_EQ(store->value("lastSyncDate").asDate(), synced);
  }
  auto store = open();
  EXPECT_EQ(store->value("autoSyncEnabled").asBool(), false);
  EXPECT_EQ(store->value(cafe).asString(), "caf\xC3\xA9-eur");
  EXPECT_EQ(store->value("empty").asString(), "");
  EXPECT_EQ(store->value("lastSyncDate").asDate(), synced);
  EXPECT_EQ(store->value("early").asDate(), early);
  EXPECT_EQ(store->value("past").asDate(), sys_days{year{1932} / December / 13} + 20h + 45min + 52s);
  EXPECT_EQ(store->value("future").asDate(), sys_days{year{2069} / January / 19} + 3h + 14min + 7s);
  EXPECT_TRUE(store->value("gone").isAbsent());
  EXPECT_EQ(store->value("autoSyncEnabled").asString(), std::nullopt);  // typed reads
  const auto keys = store->keys();
  EXPECT_EQ(
      std::set<std::string>(keys.begin(), keys.end()),
      (std::set<std::string>{"autoSyncEnabled", cafe, "empty", "lastSyncDate", "early", "past", "future"}));
  EXPECT_EQ(folderNames(), std::set<std::string>{"test.quillory.helper.plist"});
  EXPECT_EQ(log_.size(), 0u);
}

TEST_F(PlistDefaultsTest, ValuesOfOtherTypesAreKeptAsTheyWere) {
  const std::string others =
      "<key>count</key><integer>-5</integer>"
      "<key>big</key><integer>18446744073709551615</integer>"
      "<key>ratio</key><real>0.1</real>"
      "<key>blob</key><data>AAEC/w==</data>"
      "<key>list</key><array><integer>1</integer><string>x</string><true/></array>"
      "<key>nested</key><dict><key>a</key><date>2026-12-05T11:32:21Z</date><key>b</key><dict/></dict>"
      "<key>ref</key><dict><key>CF$UID</key><integer>3</integer></dict>";
  home_.writeFile(file_.lexically_relative(home_.path()),
                  plistXml(others + "<key>autoSyncEnabled</key><string>yes</string>"));
  auto store = open();
  EXPECT_EQ(store->value("autoSyncEnabled").asString(), "yes");
  store->setBool("autoSyncEnabled", true);  // replaces a value of the wrong type
  const fs::path expected =
      home_.writeFile("expected.plist", plistXml(others + "<key>autoSyncEnabled</key><true/>"));
  EXPECT_EQ(canonicalXml(file_), canonicalXml(expected));
}

// A seed file of the settings file fuzzer.
std::string fuzzSeed(const char* name) {
  return files::readFile(fs::path(QUILLORY_FUZZ_CORPUS) / "fuzz_defaults_file" / name).value_or("");
}

std::string nestedXml(int levels) {
  std::string arrays;
  for (int i = 0; i < levels; ++i) arrays += "<array>";
  for (int i = 0; i < levels; ++i) arrays += "</array>";
  return plistXml("<key>a</key>" + arrays);
}

TEST_F(PlistDefaultsTest, NestingUpToTheBoundIsRead) {
  home_.writeFile(file_.lexically_relative(home_.path()), nestedXml(250));
  EXPECT_EQ(open()->keys(), std::vector<std::string>{"a"});
  EXPECT_EQ(log_.size(), 0u);
}

struct CorruptCase {
  const char* name;
  std::string content;
  friend void PrintTo(const CorruptCase& c, std::ostream* os) { *os << c.name; }
};

class PlistDefaultsCorruptTest : public PlistDefaultsTest,
                                 public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(PlistDefaultsCorruptTest, UnreadableFileIsMovedAsideAndStoreStartsEmpty) {
  const std::string& bytes = GetParam().content;
  home_.writeFile(file_.lexically_relative(home_.path()), bytes);
  const fs::path aside = file_.parent_path() / "test.quillory.helper.plist.corrupt-20261205T090000Z";

  EXPECT_TRUE(open()->keys().empty());
  EXPECT_EQ(log_.count("[Helper] \xE2\x9A\xA0 "), 1u);
  EXPECT_EQ(log_.count(aside.string()), 1u);
  EXPECT_EQ(files::readFile(aside), bytes);
  EXPECT_EQ(folderNames(), std::set<std::string>{aside.filename().string()});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlistDefaultsCorruptTest,
    ::testing::Values(CorruptCase{"Garbage", "not a property list"}, CorruptCase{"Empty", ""},
                      CorruptCase{
                          "Truncated",
                          plistXml("<key>a</key><true/><key>b</key><string>x</string>").substr(0, 200)},
                      CorruptCase{"ArrayAtTop", std::string(kHeader) + "<array><true/></array></plist>\n"},
                      // libplist would recurse until the stack overflows, or
                      // copy the shared arrays 2^64 times.
                      CorruptCase{"DeepXml", nestedXml(200000)},
                      CorruptCase{"DeepBinary", fuzzSeed("deep-nesting.binary.plist")},
                      CorruptCase{"SharedBinary", fuzzSeed("timeout-shared-arrays.binary.plist")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlistDefaultsTest, MovingAsideNeverOverwritesAnEarlierCopyNorTheFileItCouldNotMove) {
  const fs::path folder = file_.parent_path();
  home_.writeFile(file_.lexically_relative(home_.path()), "first");
  open();
  home_.writeFile(file_.lexically_relative(home_.path()), "second");
  open();
  home_.makeFolder(file_.lexically_relative(home_.path()));  // a folder where the file belongs
  open()->setBool("k", true);
  EXPECT_EQ(files::readFile(folder / "test.quillory.helper.plist.corrupt-20261205T090000Z"), "first");
  EXPECT_EQ(files::readFile(folder / "test.quillory.helper.plist.corrupt-20261205T090000Z-2"), "second");
  EXPECT_TRUE(fs::is_directory(folder / "test.quillory.helper.plist.corrupt-20261205T090000Z-3"));
  EXPECT_EQ(open()->value("k").asBool(), true);
  EXPECT_EQ(log_.count("[Helper] \xE2\x9A\xA0"), 3u);

  // Where it cannot be moved aside (here its aside name would be too long),
  // no save may replace it: the settings live in memory only.
  file_ = folder / std::string(240, 'n');
  home_.writeFile(file_.lexically_relative(home_.path()), "garbage");
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
  const fs::path moved = home_ / "moved";
  const std::string before = *files::readFile(file_);

  // The settings folder is replaced by a regular file: the save cannot happen.
  fs::rename(folder, moved);
  home_.writeFile(folder.lexically_relative(home_.path()), "in the way");
  store->setString("library_path_B", "/b");
  EXPECT_EQ(store->value("library_path_B").asString(), "/b");
  EXPECT_EQ(log_.count("[Helper] \xE2\x9A\xA0 Could not save settings to "), 1u);
  EXPECT_EQ(files::readFile(moved / file_.filename()), before);

  // Once the folder is back, the next save writes everything.
  fs::remove(folder);
  fs::rename(moved, folder);
  store->setBool("autoSyncEnabled", true);
  auto reloaded = open();
  EXPECT_EQ(reloaded->value("library_path_A").asString(), "/a");
  EXPECT_EQ(reloaded->value("library_path_B").asString(), "/b");
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

TEST(DefaultsFileTest, FollowsXdgConfigHomeWhenAbsolute) {
  const fs::path standard = "/home/u/.config/quillory-helper/test.quillory.helper.plist";
  EXPECT_EQ(defaultsFileFor("/home/u", std::nullopt), standard);
  EXPECT_EQ(defaultsFileFor("/home/u", ""), standard);
  EXPECT_EQ(defaultsFileFor("/home/u", "relative/cfg"), standard);
  EXPECT_EQ(defaultsFileFor("/home/u", "/xdg"), fs::path("/xdg/quillory-helper/test.quillory.helper.plist"));
}

}  // namespace
}  // namespace quillory::platform::posix
