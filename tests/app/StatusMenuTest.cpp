#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ShellFixture.h"
#include "app/MenuTitle.h"
#include "platform/Files.h"
#include "platform/posix/JsonDefaults.h"

namespace quillory::app::test {
namespace {

// CLDR's space before "am"/"pm" in US English.
std::string usTime(const std::string& clock, const std::string& half) { return clock + "\u202F" + half; }

TEST_F(ShellTest, StatusLineShowsTheCurrentLibrarysMarkerAndMovesOnWithTheTimer) {
  launch();
  publishMarker("Business", "business-eur", " \t2026-12-05T08:41:00+00:00\r\n");  // read trimmed
  refresh();
  EXPECT_EQ(libraryLine(), "Open Kettle Ledger to sync");
  EXPECT_EQ(statusLine(), "Never synced");  // no current library, no marker

  hostShows("Business");
  EXPECT_EQ(statusLine(), "Last sync: today at " + usTime("8:41", "am"));
  clock.set(clock.now() + std::chrono::hours(15));     // the next day
  dispatcher.tickTimersFor(std::chrono::seconds(60));  // the status refresh timer
  deliver();
  EXPECT_EQ(statusLine(), "Last sync: yesterday at " + usTime("8:41", "am"));
  EXPECT_EQ(statusItem->toolTip(), statusLine());  // seen without opening the menu
}

// Without a script launcher (Linux) the status line says why from the first
// check on instead of waiting for Kettle Ledger, a sync fails with those
// words (and the log says which run), and a launcher that appears ends it.
TEST_F(ShellTest, WithoutAScriptLauncherTheStatusLineSaysWhereKettleLedgerRuns) {
  const std::string notice =
      "Kettle Ledger runs on macOS \u2014 see `man quillory-helper` to try the simulated one";
  scripts.setLauncherMissing(true);
  launch();
  dispatcher.runGlobalTasks();  // the first check
  deliver();
  EXPECT_EQ(statusLine(), notice);
  menu().item(kSyncNowTitle).choose();
  dispatcher.runGlobalTasks();
  deliver();
  EXPECT_EQ(statusLine(), "\u26A0 " + notice);
  EXPECT_TRUE(log.contains("\u2717 Export failed (manual): noScriptLauncher"));
  scripts.setLauncherMissing(false);
  menu().item(kSyncNowTitle).choose();
  dispatcher.runGlobalTasks();
  manager->periodicCheck();
  deliver();
  EXPECT_EQ(statusLine(), "\u26A0 Kettle Ledger did not respond");  // the host test's turn
}

// The status refresh timer refreshes the submenu while it may be open: the
// same libraries keep their items (and the highlight on them); a change of
// the list keeps the highlight on the same library.
TEST_F(ShellTest, AnOpenSubmenuKeepsItsItemsAndItsHighlightedLibrary) {
  launch();
  defaults.setBool(libraries::syncLibraryKey("Biz"), true);
  defaults.setBool(libraries::syncLibraryKey("Home"), false);
  refresh();
  const std::weak_ptr<platform::MenuItem> home = libraries().items().at(1);
  libraries().highlight(home.lock());
  defaults.setBool(libraries::syncLibraryKey("Home"), true);
  refresh();
  ASSERT_FALSE(home.expired());  // not rebuilt
  EXPECT_TRUE(home.lock()->isChecked());
  defaults.setBool(libraries::syncLibraryKey("Attic"), true);
  refresh();
  ASSERT_EQ(libraries().size(), 3u);
  EXPECT_EQ(libraries().highlightedItem(), libraries().items().at(2));
}

TEST_F(ShellTest, SyncNowShowsTheIndicatorAndHoldsTheItemUntilTheRunEnds) {
  launch();
  menu().item(kSyncNowTitle).choose();
  deliver();
  EXPECT_TRUE(statusItem->indicatorAnimating() && !statusItem->iconShown());
  EXPECT_FALSE(menu().item(kSyncNowTitle).isEnabled());
  dispatcher.runGlobalTasks();
  deliver();
  EXPECT_TRUE(!statusItem->indicatorAnimating() && statusItem->iconShown());
  EXPECT_TRUE(menu().item(kSyncNowTitle).isEnabled());
}

// Automatic runs that fail are told once per kind of failure, at most once
// per ten minutes; a run the user started is told by its own alert. The icon
// is marked while the last run failed.
TEST_F(ShellTest, FailedAutomaticSyncsMarkTheIconAndAreNotifiedOncePerKind) {
  struct Step {
    const char* reason;
    const char* exported;  // the export script's answer
    int minutesLater;
    std::size_t notified;  // notifications so far
  };
  const char* kEmpty = R"({"items":[]})";
  const char* kGood = R"({"items":[{"amountsOriginal":{"currency":"EUR"}}]})";
  const Step steps[] = {
      {"idle 3 min", kEmpty, 0, 1}, {"idle 3 min", kEmpty, 3, 1}, {"idle 3 min", kEmpty, 3, 1},
      {"idle 3 min", kEmpty, 3, 1}, {"idle 3 min", kEmpty, 3, 1},  // five failed idle runs: one
      {"idle 3 min", "{", 0, 2},                                   // another kind, 12 minutes after the first
      {"manual", kEmpty, 11, 2},                                   // the user started it
      {"idle 3 min", kEmpty, 0, 2},                                // known from the manual run
      {"idle 3 min", kGood, 0, 2},  {"idle 3 min", kEmpty, 1, 3},  // again after a success
      {"idle 3 min", "{", 1, 3},                                   // within ten minutes of the last
      {"idle 3 min", "{", 10, 4},
  };
  launch();
  defaults.setBool(libraries::syncLibraryKey("Biz"), true);
  hostShows("Biz");
  for (const Step& step : steps) {
    clock.advance(std::chrono::minutes(step.minutesLater));
    scripts.setAnswer(std::string(bridge::kExportScript), step.exported);
    manager->sync(step.reason);
    dispatcher.runGlobalTasks();
    deliver();
    ASSERT_EQ(notifier.sent.size(), step.notified) << step.reason << " " << step.exported;
    EXPECT_EQ(statusItem->errorShown(), step.exported != kGood);
  }
  EXPECT_EQ(notifier.sent.front().first + " / " + notifier.sent.front().second,
            "Quillory Helper could not sync 'Biz' / Library is empty");
  EXPECT_EQ(notifier.sent.at(1).second, "Could not parse export");
}

// "Show Published Files" opens the iCloud Drive folder while it exists;
// "Show Log…" opens the helper's log file.
TEST_F(ShellTest, PublishedFilesAndTheLogOpenOnTheDesktop) {
  launch();
  testing::FakeMenuItem& published = menu().item(kShowPublishedFilesTitle);
  EXPECT_FALSE(published.isEnabled());
  EXPECT_NE(published.toolTip().find("does not exist"), std::string::npos);
  home.makeFolder(documents());
  refresh();
  EXPECT_TRUE(published.isEnabled());
  published.choose();
  menu().item(kShowLogTitle).choose();
  EXPECT_EQ(desktop.opened, (std::vector<std::filesystem::path>{home / documents(), home / "helper.log"}));
}

TEST_F(ShellTest, NotificationAfterTheDelegateIsGoneDoesNothing) {
  launch();
  manager->notifyStatusChanged();
  delegate.reset();  // neither the manager's hook nor the menu keeps it (LeakSanitizer would say)
  deliver();
  manager->callStatusHookNow();
  deliver();
}

TEST_F(ShellTest, EveryMenuCommandIsIgnoredWhileAnAlertIsOpen) {
  // Trays that deliver clicks over D-Bus reach the actions past Qt's modal
  // blocking: here, every item is chosen while the first-sync question is open.
  launch();
  defaults.setBool(libraries::syncLibraryKey("Old"), true);
  hostShows("New");
  int opened = 0;
  alerts.setWhileOpen([this, &opened](const platform::Alert&) {
    if (opened++ > 0) return;  // a nested alert (the fault) must not recurse
    for (std::size_t i = 0; i < menu().size(); ++i) menu().at(i).choose();
    for (std::size_t i = 0; i < libraries().size(); ++i) libraries().at(i).choose();
  });
  alerts.queueAnswer(1);  // the user's own answer, "Don't Sync", comes after
  manager->sync("idle 3 min");

  ASSERT_EQ(alerts.shown().size(), 1u);
  EXPECT_FALSE(alerts.shown()[0].causedByUser);  // it must not take the keyboard
  EXPECT_TRUE(manager->autoSyncEnabled());
  EXPECT_EQ(std::pair(loginItems.registers(), terminated), std::pair(std::size_t{0}, 0));
}

// Run from the copy App Translocation made: the status line asks for the
// move (a sync's own lines still come first) and no login item is registered.
TEST_F(ShellTest, ATranslocatedCopyAsksToBeMovedAndRegistersNoLoginItem) {
  runsTranslocated = true;
  launch();
  refresh();
  EXPECT_EQ(statusLine(), kMoveToApplicationsTitle);
  menu().item(kLaunchAtLoginTitle).choose();
  EXPECT_EQ(loginItems.registers(), 0u);
  EXPECT_FALSE(menu().item(kLaunchAtLoginTitle).isChecked());
  manager->sync("manual");
  deliver();
  EXPECT_EQ(statusLine(), "Syncing\u2026");
}

// A switch-off or switch-on whose answer cannot be stored changes nothing:
// the check mark and the files stay, and the status line says why.
TEST_F(ShellTest, AnAnswerThatCannotBeStoredChangesNothingAndSaysWhy) {
  launch();
  defaults.setBool(libraries::syncLibraryKey("On"), true);
  defaults.setBool(libraries::syncLibraryKey("Off"), false);
  publishMarker("On", "on-eur", "2026-12-05T08:00:00Z");
  refresh();
  defaults.refuseWrites("Read-only file system");
  alerts.queueAnswer(0);  // "Remove"
  for (const int item : {1, 0}) libraries().at(item).choose();
  dispatcher.runGlobalTasks();  // the menu's changes run on the background queue
  deliver();
  EXPECT_TRUE(libraries().at(1).isChecked() && !libraries().at(0).isChecked());
  EXPECT_TRUE(platform::files::exists(home / documents() / "on-eur.json"));
  EXPECT_TRUE(log.contains("[Helper] \u2717 Could not switch off 'On': Read-only file system"));
  EXPECT_EQ(statusLine(), "\u26A0 Could not switch on 'Off': Read-only file system");
  // The user who chose "Remove" is told at once, and the warning outlasts a
  // later sync until the switch-off is stored.
  ASSERT_EQ(alerts.shown().size(), 2u);
  EXPECT_EQ(alerts.shown()[1].message, "\"On\" was not removed from mobile devices");
  hostShows("On");
  scripts.setAnswer(std::string(bridge::kExportScript),
                    R"({"items":[{"amountsOriginal":{"currency":"EUR"}}]})");
  manager->sync("manual");
  dispatcher.runGlobalTasks();
  deliver();
  EXPECT_TRUE(log.contains("[Helper] \u2713 Export OK (manual) \u2192 1 destination(s)"));
  EXPECT_EQ(statusLine(), "\u26A0 Could not switch off 'On': Read-only file system");
  defaults.refuseWrites(std::nullopt);
  alerts.queueAnswer(0);
  libraries().at(1).choose();
  dispatcher.runGlobalTasks();
  deliver();
  EXPECT_FALSE(statusLine().starts_with("\u26A0") || statusItem->errorShown()) << statusLine();
}

// With the settings file's lock held by another process, the commands that
// store (Auto-sync, the first-sync question's answer) come back while it is
// still held, and what they chose is stored once it is free.
TEST_F(ShellTest, TheMenuNeverWaitsForTheSettingsLock) {
  platform::posix::JsonDefaults file(home / "settings.json", log, clock);
  settings = &file;
  launch();
  hostShows("New");
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready) | ::pipe(release), 0);
  const pid_t holder = ::fork();  // holds the lock until told, or ten seconds
  if (holder == 0) {
    const int lock = ::open((home / "settings.json.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ::close(release[1]);
    pollfd told{release[0], POLLIN, 0};
    if (::flock(lock, LOCK_EX) == 0 && ::write(ready[1], "x", 1) == 1) ::poll(&told, 1, 10000);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  menu().item(kAutoSyncTitle).choose();
  alerts.queueAnswer(0);  // "Sync"
  menu().item(kSyncNowTitle).choose();
  const int probe = ::open((home / "settings.json.lock").c_str(), O_RDWR | O_CLOEXEC);
  const bool stillHeld = ::flock(probe, LOCK_EX | LOCK_NB) != 0;
  ::close(probe);
  EXPECT_TRUE(stillHeld);  // nothing here waited for it
  EXPECT_FALSE(menu().item(kAutoSyncTitle).isChecked());
  ::close(release[1]);
  ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);
  dispatcher.runGlobalTasks();
  deliver();
  EXPECT_EQ(file.value(engine::kAutoSyncEnabledKey).asBool(), false);
  EXPECT_EQ(file.value(libraries::syncLibraryKey("New")).asBool(), true);
  for (const int fd : {ready[0], ready[1], release[0]}) ::close(fd);
  delegate.reset();  // before the store they use goes
  manager.reset();
}

TEST(MenuTitle, LongTextsAreElidedInTheMiddleByCharacters) {
  const std::string sixty(60, 'x');
  std::string han, accents;
  for (int i = 0; i < 60; ++i) han += "\u65E5";        // 60 characters in 180 bytes
  for (int i = 0; i < 100; ++i) accents += "e\u0301";  // 100 letters, each with its mark
  EXPECT_EQ(elidedMenuTitle(sixty), sixty);
  EXPECT_EQ(elidedMenuTitle("A" + sixty), "A" + std::string(29, 'x') + "\u2026" + std::string(29, 'x'));
  EXPECT_EQ(elidedMenuTitle(han), han);
  EXPECT_EQ(elidedMenuTitle(accents), accents.substr(0, 30 * 3) + "\u2026" + accents.substr(71 * 3));
}

TEST_F(ShellTest, LongLibraryNamesAreShortInTitlesAndWholeInToolTipsAndItems) {
  const std::string name = "Receipts " + std::string(3000, 'n') + " EUR";
  launch();
  defaults.setBool(libraries::syncLibraryKey(name), true);
  hostShows(name);
  EXPECT_EQ(libraryLine(), "Library: " + elidedMenuTitle(name));
  EXPECT_EQ(menu().at(0).toolTip(), name);
  testing::FakeMenuItem& item = libraries().at(0);
  EXPECT_EQ(item.title(), elidedMenuTitle(name));
  EXPECT_EQ(item.representedObject(), name);
}

}  // namespace
}  // namespace quillory::app::test
