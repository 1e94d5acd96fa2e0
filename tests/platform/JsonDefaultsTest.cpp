#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/json/parse.hpp>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "platform/posix/JsonDefaults.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
#include "support/TempHome.h"

namespace quillory::platform::posix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

class JsonDefaultsTest : public ::testing::Test {
 protected:
  std::unique_ptr<JsonDefaults> open(JsonDefaults::Mode mode = JsonDefaults::Mode::readWrite) {
    return std::make_unique<JsonDefaults>(file_, log_, clock_, mode);
  }
  std::string aside(int n = 1) const {
    return file_.string() + ".corrupt-20261205T090000Z" + (n == 1 ? "" : "-" + std::to_string(n));
  }

  testing::TempHome home_;
  fs::path file_ = home_ / ".config" / "quillory-helper" / "settings.json";
  testing::CapturingLog log_;
  testing::FakeClock clock_;
};

// The file's form (JSON booleans, strings, dates as UTC text), and values of
// types the program does not use kept through its changes. A key named twice
// becomes one, whose change survives.
TEST_F(JsonDefaultsTest, ValuesSurviveAReloadBesideValuesOfOtherTypes) {
  const Date synced = sys_days{year{2026} / December / 5} + hours{11} + minutes{32} + seconds{21};
  const std::string cafe = std::string("library_filename_Caf\xC3\xA9 \"&\" \\ \n", 27) + std::string(1, '\0');
  home_.writeFile(file_, R"({"autoSyncEnabled": true, "count": -1e400, "list": [1, true], "nested": {"b": {}},
                  "none": null, "autoSyncEnabled": "yes", "library_path_X": "2026-12-05T11:32:21Z"})");
  {
    auto store = open();
    EXPECT_TRUE(store->setBool("autoSyncEnabled", false));  // replaces a value of the wrong type
    EXPECT_TRUE(store->setString(cafe, "caf\xC3\xA9-eur"));
    EXPECT_TRUE(store->setDate("lastSyncDate", synced + milliseconds(750)));  // kept to the whole second
    EXPECT_TRUE(store->setBool("gone", true));
    EXPECT_TRUE(store->remove("gone"));
  }
  const boost::json::value onDisk = boost::json::parse(files::readFile(file_).value());
  EXPECT_EQ(onDisk.at("autoSyncEnabled"), boost::json::value(false));
  EXPECT_EQ(onDisk.at("lastSyncDate"), boost::json::value("2026-12-05T11:32:21Z"));
  auto store = open();
  EXPECT_EQ(store->value("autoSyncEnabled").asBool(), false);
  EXPECT_EQ(store->value(cafe).asString(), "caf\xC3\xA9-eur");
  EXPECT_EQ(store->value("lastSyncDate").asDate(), synced);
  EXPECT_EQ(store->value("library_path_X").asString(),
            "2026-12-05T11:32:21Z");  // a text that reads as a date
  EXPECT_EQ(store->value("none"), DefaultsValue(OtherValue{}));
  EXPECT_THAT(store->keys(),
              ::testing::UnorderedElementsAre("count", "list", "nested", "none", "autoSyncEnabled",
                                              "library_path_X", cafe, "lastSyncDate"));
  EXPECT_TRUE(log_.lines().empty());
}

std::string nested(int levels) {
  return R"({"a": )" + std::string(static_cast<std::size_t>(levels), '[') +
         std::string(static_cast<std::size_t>(levels), ']') + "}";
}

// A seed file of the settings file fuzzer; a missing one fails the test.
std::string fuzzSeed(const char* name) {
  return files::readFile(fs::path(QUILLORY_FUZZ_CORPUS) / "fuzz_settings_file" / name).value();
}

TEST_F(JsonDefaultsTest, UnreadableFileIsMovedAsideAndStoreStartsEmpty) {
  const std::pair<const char*, std::string> cases[] = {
      {"garbage", fuzzSeed("garbage.json")},
      {"empty", ""},
      {"truncated", fuzzSeed("truncated.json")},
      {"array at the top", fuzzSeed("top-array.json")},
      {"invalid UTF-8", fuzzSeed("bad-utf8.json")},
      {"deep", nested(100000)},
      {"too big", "{\"a\": \"" + std::string(kMaxSettingsBytes, 'x') + "\"}"},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    home_.writeFile(file_, bytes);
    log_.clear();
    EXPECT_TRUE(open()->keys().empty());
    EXPECT_EQ(log_.count("; moved it to " + aside()), 1u);
    EXPECT_EQ(files::readFile(aside()), bytes);
    EXPECT_FALSE(files::exists(file_));
    fs::remove(aside());
  }
  // Nesting up to the bound is read.
  home_.writeFile(file_, nested(kMaxSettingsNesting - 1));
  EXPECT_EQ(open()->keys(), std::vector<std::string>{"a"});
}

TEST_F(JsonDefaultsTest, MovingAsideNeverOverwritesAnEarlierCopyNorTheFileItCouldNotMove) {
  home_.writeFile(file_, "first");
  open();
  home_.writeFile(file_, "second");
  auto store = open();
  EXPECT_EQ(files::readFile(aside()), "first");
  EXPECT_EQ(files::readFile(aside(2)), "second");

  // Turned unreadable while running (an editor half-way through its save):
  // reads keep what was read last, and the next change sets it aside and
  // keeps those keys.
  EXPECT_TRUE(store->setBool("kept", true));
  home_.writeFile(file_, "{\"kept\": tr");
  EXPECT_EQ(store->value("kept").asBool(), true);
  EXPECT_TRUE(store->setBool("k", true));
  EXPECT_EQ(files::readFile(aside(3)), "{\"kept\": tr");
  EXPECT_EQ(open()->value("kept").asBool(), true);

  // Where it cannot be moved aside (here its aside name would be too long),
  // no change may replace it.
  file_ = file_.parent_path() / std::string(240, 'n');
  home_.writeFile(file_, "garbage");
  store = open();
  EXPECT_EQ(log_.count("could not be moved aside (File name too long); settings will not be saved"), 1u);
  EXPECT_FALSE(store->setBool("k", true));
  EXPECT_EQ(files::readFile(file_), "garbage");
}

// Another writer's keys, stored between this store's reads and changes, are
// seen and never undone; a removal guarded by a key that another writer
// switched on is skipped.
TEST_F(JsonDefaultsTest, ChangesTouchOnlyTheirOwnKeys) {
  auto mine = open();
  auto theirs = open();
  EXPECT_TRUE(mine->setBool("sync_library_A", false) && theirs->setBool("sync_library_A", true));
  EXPECT_TRUE(mine->apply(DefaultsChange()
                              .removeUnless("sync_library_A", "sync_library_A", DefaultsValue(true))
                              .setString("library_path_B", "/b")));
  EXPECT_EQ(mine->value("sync_library_A").asBool(), true);
  EXPECT_EQ(theirs->value("library_path_B").asString(), "/b");
}

// A settings file that is a link (a dotfile manager's) is written where it
// points and stays a link.
TEST_F(JsonDefaultsTest, ALinkStaysALink) {
  const fs::path real = home_.writeFile("dotfiles/settings.json", R"({"autoSyncEnabled": false})");
  fs::create_directories(file_.parent_path());
  fs::create_symlink(fs::relative(real, file_.parent_path()), file_);
  EXPECT_TRUE(open()->setBool("sync_library_A", true));
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_EQ(files::readFile(real), "{\n  \"autoSyncEnabled\": false,\n  \"sync_library_A\": true\n}\n");
}

// Two processes, each changing its own keys 1,000 times under the lock: no
// change of either is lost.
TEST_F(JsonDefaultsTest, TwoProcessesChangingDifferentKeysLoseNothing) {
  constexpr int kChanges = 1000;
  const auto change = [&](const std::string& who) {
    JsonDefaults store(file_, log_, clock_);
    bool stored = true;
    for (int i = 0; i < kChanges; ++i)
      stored = store.setString(who + std::to_string(i % 50), std::to_string(i)) && stored;
    return stored;
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(change("a") ? 0 : 1);
  EXPECT_TRUE(change("b"));
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  auto store = open();
  EXPECT_EQ(store->keys().size(), 100u);
  for (int i = kChanges - 50; i < kChanges; ++i) {
    for (const char* who : {"a", "b"})
      EXPECT_EQ(store->value(who + std::to_string(i % 50)).asString(), std::to_string(i));
  }
}

// An unset or relative XDG_CONFIG_HOME stands for ~/.config.
TEST(DefaultsFileTest, FollowsXdgConfigHomeWhenAbsolute) {
  EXPECT_EQ(defaultsFileFor("/home/u", "relative/cfg"), "/home/u/.config/quillory-helper/settings.json");
  EXPECT_EQ(defaultsFileFor("/home/u", "/xdg"), fs::path("/xdg/quillory-helper/settings.json"));
}

}  // namespace
}  // namespace quillory::platform::posix
