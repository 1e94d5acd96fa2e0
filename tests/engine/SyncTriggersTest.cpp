// The triggers: monitoring set-up, the check (pruning, the host test, the
// name script and its tracking, the idle sync), the host's termination and
// activation, and the status line's date.

#include <string>
#include <vector>

#include "EngineFixture.h"

namespace quillory::engine::test {
namespace {

// Only the host's exact bundle identifier counts: its activation schedules a
// check, its termination clears the four names with one notification. While
// the host is not running, checks run no script and clear the shown name with
// one notification. Observers and timers hold the manager weakly.
TEST_F(EngineTest, HostActivationChecksAndHostStopAndQuitClearTheNames) {
  engine().startMonitoring();  // a first check, the host not running yet
  settleLibrary("A");
  checkReporting("B");  // B pending
  takeNotifications();
  const std::size_t checks = dispatcher.globalCalls().size();
  for (const char* other : {"test.other.app", "TEST.kettleledger.desktop2", "test.kettleledger.desktop2 "}) {
    workspace.terminate(other);
    workspace.activate(other);
  }
  EXPECT_EQ(engine().state().pendingLibraryName, "B");
  EXPECT_EQ(takeNotifications(), 0);
  EXPECT_EQ(dispatcher.globalCalls().size(), checks);

  workspace.quit(kHost);
  const std::size_t scriptCalls = scripts.totalCalls();
  engine().periodicCheck();
  engine().periodicCheck();
  EXPECT_EQ(takeNotifications(), 1);
  EXPECT_EQ(scripts.totalCalls(), scriptCalls);

  workspace.terminate(kHost);
  const ExportState s = engine().state();
  EXPECT_FALSE(s.currentLibraryName || s.knownLibraryName || s.pendingLibraryName || s.confirmedLibraryName);
  EXPECT_EQ(takeNotifications(), 1);
  workspace.activate(kHost);
  EXPECT_EQ(dispatcher.globalCalls().size(), checks + 1);
  settle();
  manager.reset();
  dispatcher.tickTimersFor(std::chrono::seconds(60));
  workspace.activate(kHost);
  EXPECT_EQ(dispatcher.globalCalls().size(), checks + 1);
}

// The idle rule in the check, driven by checks every 10 seconds on the test
// thread: the manager activates it, feeds it successful exports only, and
// syncs with its reason.
TEST_F(EngineTest, IdleSyncOncePerActivationAfterThreeMinutesPostponedByAnExport) {
  openEnabled("Biz");
  scripts.setAnswer(kExportScript, kExportJson);
  // Checks at `first`, first + 10, ... up to `last` seconds after now; the
  // seconds of each check that started an idle sync.
  const auto checksFrom = [&](int first, int last) {
    const platform::Date start = clock.now();
    std::vector<int> synced;
    for (int at = first; at <= last; at += 10) {
      clock.set(start + std::chrono::seconds(at));
      const std::size_t before = scripts.calls(kExportScript);
      engine().periodicCheck();
      settle();
      if (scripts.calls(kExportScript) > before) synced.push_back(at);
    }
    return synced;
  };
  engine().toggleAutoSync();  // off
  EXPECT_TRUE(checksFrom(180, 300).empty());
  engine().toggleAutoSync();
  engine().appDidActivate(kHost);
  settle();  // the check it schedules
  EXPECT_EQ(checksFrom(5, 600), std::vector<int>{185});
  EXPECT_EQ(log.count("Export OK (idle 3 min)"), 1u);
  engine().klDidQuit(kHost);  // a quit does not re-arm the rule
  EXPECT_TRUE(checksFrom(10, 400).empty());

  engine().appDidActivate(kHost);
  settle();
  clock.advance(std::chrono::seconds(100));
  engine().sync("manual");
  settle();
  EXPECT_EQ(checksFrom(10, 300), std::vector<int>{180});
  EXPECT_EQ(log.count("Export OK (idle 4 min)"), 1u);  // 280 s after the activation
}

// The status line's date is read from the marker the library's record names,
// never from outside the container folder.
TEST_F(EngineTest, CurrentLibrarySyncDateReadsOnlyInsideTheContainerFolder) {
  const std::string docs = "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents/";
  settleLibrary("Biz");
  for (const std::string record : {"biz-eur", "../outside", "sub/biz"}) {
    SCOPED_TRACE(record);
    defaults.setString("library_filename_Biz", record + ".json");
    const auto marker = home.writeFile(docs + record + "_updated.txt", "2026-12-05T11:32:21Z");
    EXPECT_EQ(engine().currentLibrarySyncDate().has_value(), record == "biz-eur");
    std::filesystem::remove(marker);
  }
}

}  // namespace
}  // namespace quillory::engine::test
