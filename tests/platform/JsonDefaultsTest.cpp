#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/json/parse.hpp>
#include <functional>
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
  std::unique_ptr<JsonDefaults> open() { return std::make_unique<JsonDefaults>(file_, log_, clock_); }
  std::string aside(int n = 1) const {
    return file_.string() + ".corrupt-20261205T090000Z" + (n == 1 ? "" : "-" + std::to_string(n));
  }
  // The file as a coarse clock, or a copy that keeps times, leaves it: dated
  // a minute ago, `ns` into that second.
  void stampOld(long ns = 0) const {
    const timespec times[2] = {{0, UTIME_OMIT}, {minuteAgo_, ns}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file_.c_str(), times, 0), 0);
  }

  testing::TempHome home_;
  fs::path file_ = home_ / ".config" / "quillory-helper" / "settings.json";
  testing::CapturingLog log_;
  testing::FakeClock clock_;
  const time_t minuteAgo_ = ::time(nullptr) - 60;
};

// The file's form (JSON booleans, strings, dates as UTC text), and values of
// types the program does not use kept through its changes. A key named twice
// becomes one, whose change survives. A new file is 0600; a replaced one
// keeps its mode.
TEST_F(JsonDefaultsTest, ValuesSurviveAReloadBesideValuesOfOtherTypes) {
  const Date synced = sys_days{year{2026} / December / 5} + hours{11} + minutes{32} + seconds{21};
  const std::string cafe = std::string("library_filename_Caf\xC3\xA9 \"&\" \\ \n", 27) + std::string(1, '\0');
  EXPECT_TRUE(open()->setBool("autoSyncEnabled", true));
  EXPECT_EQ(fs::status(file_).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  home_.writeFile(file_, R"({"autoSyncEnabled": true, "count": -1e400, "list": [1, true], "nested": {"b": {}},
                  "none": null, "autoSyncEnabled": "yes", "library_path_X": "2026-12-05T11:32:21Z"})");
  fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  auto store = open();
  // A value of the wrong type replaced; a date kept to the whole second.
  EXPECT_TRUE(store->setBool("autoSyncEnabled", false) && store->setString(cafe, "caf\xC3\xA9-eur"));
  EXPECT_TRUE(store->setDate("lastSyncDate", synced + milliseconds(750)) && store->setBool("gone", true) &&
              store->remove("gone"));
  EXPECT_EQ(fs::status(file_).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const boost::json::value onDisk = boost::json::parse(files::readFile(file_).value());
  EXPECT_EQ(onDisk.at("autoSyncEnabled"), boost::json::value(false));
  EXPECT_EQ(onDisk.at("lastSyncDate"), boost::json::value("2026-12-05T11:32:21Z"));
  store = open();
  EXPECT_EQ(store->value(cafe).asString(), "caf\xC3\xA9-eur");
  EXPECT_EQ(store->value("lastSyncDate").asDate(), synced);
  // A text that reads as a date stays a text.
  EXPECT_EQ(store->value("library_path_X").asString(), "2026-12-05T11:32:21Z");
  EXPECT_EQ(store->value("none"), DefaultsValue(OtherValue{}));
  EXPECT_THAT(store->keys(),
              ::testing::UnorderedElementsAre("count", "list", "nested", "none", "autoSyncEnabled",
                                              "library_path_X", cafe, "lastSyncDate"));
  EXPECT_TRUE(log_.lines().empty());
}

std::string nested(std::size_t levels) {
  return R"({"a": )" + std::string(levels, '[') + std::string(levels, ']') + "}";
}

// A seed file of the settings file fuzzer; a missing one fails the test.
std::string fuzzSeed(const char* name) {
  return files::readFile(fs::path(QUILLORY_FUZZ_CORPUS) / "fuzz_settings_file" / name).value();
}

// A file that has stayed unreadable (unchanged for two seconds: here dated a
// minute ago) is set aside when the store opens, never over an earlier copy;
// the line says why.
TEST_F(JsonDefaultsTest, AFileThatStaysUnreadableIsMovedAsideAndSaysWhy) {
  const std::string notJson = "is not a JSON object of settings";
  const std::tuple<const char*, std::string, std::string> cases[] = {
      {"empty", "", notJson},
      {"truncated", fuzzSeed("truncated.json"), notJson},
      {"array at the top", fuzzSeed("top-array.json"), notJson},
      {"invalid UTF-8", fuzzSeed("bad-utf8.json"), notJson},
      {"deep", nested(100000), notJson},
      {"too big", "{\"a\": \"" + std::string(kMaxSettingsBytes - 8, 'x') + "\"}", "is larger than 64 MiB"},
  };
  int moved = 0;
  for (const auto& [name, bytes, why] : cases) {
    SCOPED_TRACE(name);
    home_.writeFile(file_, bytes);
    stampOld();
    log_.clear();
    EXPECT_TRUE(open()->keys().empty());
    EXPECT_EQ(log_.count(why + "; moved it to " + aside(++moved)), 1u);
    EXPECT_EQ(files::readFile(aside(moved)), bytes);
    EXPECT_FALSE(files::exists(file_));
  }
  // Nesting up to the bound is read.
  home_.writeFile(file_, nested(kMaxSettingsNesting - 1));
  EXPECT_EQ(open()->keys(), std::vector<std::string>{"a"});
}

TEST_F(JsonDefaultsTest, MovingAsideKeepsTheSettingsReadAndNeverOverwritesTheFileItCouldNotMove) {
  // Set aside while running, by the next read: the settings last read from
  // it stay, and the line says so.
  auto store = open();
  EXPECT_TRUE(store->setBool("kept", true));
  home_.writeFile(file_, "{\"kept\": tr");
  stampOld();
  EXPECT_EQ(store->value("kept").asBool(), true);
  EXPECT_EQ(log_.count(aside() + " and kept the 1 settings last read from it"), 1u);
  EXPECT_EQ(open()->value("kept").asBool(), true);

  // Where it cannot be moved aside (here its aside name would be too long),
  // no change may replace it.
  file_ = file_.parent_path() / std::string(240, 'n');
  home_.writeFile(file_, "garbage");
  stampOld();
  store = open();
  EXPECT_EQ(log_.count("could not be moved aside (File name too long); settings will not be saved"), 1u);
  EXPECT_FALSE(store->setBool("k", true));
  EXPECT_EQ(files::readFile(file_), "garbage");
}

// Another writer switches "sync_library_A" off after the store has read the
// file. The publish decision reads false at once (never the stale true;
// nothing while the file is half-written), and a switch-off of B loses none
// of the writer's keys, also when it comes while an editor is half-way
// through its save. (Writers through a link into a dotfiles folder: the
// checker of the promises, tests/promises.)
TEST_F(JsonDefaultsTest, EveryWritersChangeIsSeenByTheNextDecision) {
  const std::string before = R"({"sync_library_A": true , "other": "x"})";
  const std::string after = R"({"sync_library_A": false, "other": "y"})";  // the same size
  std::thread rest;
  // Writes `bytes` into the file at `from` (truncating it at 0); then dates
  // it as it was when `keepTime` (a coarse clock).
  const auto inPlace = [&](std::string_view bytes, std::size_t from, bool keepTime = false) {
    const auto was = fs::last_write_time(file_);
    const int fd = ::open(file_.c_str(), O_WRONLY | (from == 0 ? O_TRUNC : 0) | O_CLOEXEC);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(from)), ssize_t(bytes.size()));
    ::close(fd);
    if (keepTime) fs::last_write_time(file_, was);
  };
  const std::tuple<const char*, bool, std::function<void()>> writers[] = {
      {"a script's rename", false, [&] { EXPECT_FALSE(files::atomicWrite(file_, after)); }},
      {"in place within one tick of a coarse clock", false, [&] { inPlace(after, 0, true); }},
      {"in place, keeping an old time of the same second", true,
       [&] { inPlace(after, 0), stampOld(600000000); }},
      {"an editor in two pieces", false,
       [&] {
         inPlace(after.substr(0, 20), 0);
         rest = std::thread(
             [&] { std::this_thread::sleep_for(milliseconds(300)), inPlace(after.substr(20), 20); });
       }},
  };
  for (const auto& [writer, old, write] : writers) {
    for (const bool switchOff : {false, true}) {
      SCOPED_TRACE(std::string(writer) +
                   (switchOff ? ", then the switch-off" : ", then the publish decision"));
      home_.writeFile(file_, before);
      if (old) stampOld(100000000);
      auto store = open();
      ASSERT_EQ(store->value("sync_library_A").asBool(), true);
      write();
      if (switchOff) {
        EXPECT_TRUE(store->setBool("sync_library_B", false));
        EXPECT_EQ(files::readFile(file_),
                  "{\n  \"sync_library_A\": false,\n  \"other\": \"y\",\n  \"sync_library_B\": false\n}\n");
      } else if (rest.joinable()) {
        EXPECT_TRUE(store->value("sync_library_A").isUnreadable());
      }
      if (rest.joinable()) rest.join();
      EXPECT_EQ(store->value("sync_library_A").asBool(), false);
      EXPECT_EQ(store->value("other").asString(), "y");
    }
  }
}

// Nothing but a regular file is replaced: at the path or at a link's end.
TEST_F(JsonDefaultsTest, OnlyARegularFileIsReplaced) {
  const fs::path fifo = home_.makeFolder(".config/quillory-helper") / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const fs::path& target : {fifo, file_}) {  // a link to a FIFO, a FIFO
    fs::remove(file_);
    ASSERT_EQ(target == file_ ? ::mkfifo(file_.c_str(), 0600) : ::symlink(target.c_str(), file_.c_str()), 0);
    auto store = open();
    EXPECT_EQ(store->setBool("k", true).failure,
              "cannot save the settings: " + target.string() + " is not a regular file");
    EXPECT_TRUE(store->value("k").isAbsent() && store->keys().empty());
    EXPECT_EQ(fs::status(target).type(), fs::file_type::fifo);
  }
}

// A relative XDG_CONFIG_HOME stands for ~/.config. (An absolute one: the
// command-line end-to-end runs.)
TEST(DefaultsFileTest, FollowsXdgConfigHomeOnlyWhenAbsolute) {
  EXPECT_EQ(defaultsFileFor("/home/u", "relative/cfg"), "/home/u/.config/quillory-helper/settings.json");
}

}  // namespace
}  // namespace quillory::platform::posix
