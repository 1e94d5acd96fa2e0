#include <gtest/gtest.h>

#include "ShellFixture.h"
#include "app/MenuTitle.h"
#include "platform/Files.h"

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
