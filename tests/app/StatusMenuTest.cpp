#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ShellFixture.h"
#include "app/VersionLine.h"

namespace quillory::app::test {
namespace {

using ::testing::ElementsAre;

// CLDR's space before "am"/"pm" in US English.
std::string usTime(const std::string& clock, const std::string& half) { return clock + "\u202F" + half; }

TEST_F(ShellTest, LaunchBuildsTheMenuAndStartsMonitoring) {
  defaults.setBool(engine::kAutoSyncEnabledKey, false);
  loginItems.setStatus(platform::LoginItemStatus::enabled);
  launch();
  EXPECT_EQ(accessoryCalls, 1);
  EXPECT_TRUE(statusItem->iconShown());
  EXPECT_THAT(menu().titles(), ElementsAre("Kettle Ledger not running", "Never synced", "---", "Sync Now",
                                           "---", "Libraries", "---", "Auto-sync", "Launch at Login", "---",
                                           "Quillory Helper 1.2 (34)", "Quit Quillory Helper"));
  for (std::size_t line : {0, 1, 10}) EXPECT_FALSE(menu().at(line).isEnabled()) << line;
  EXPECT_FALSE(menu().item(kAutoSyncTitle).isChecked());  // both marks read at launch
  EXPECT_TRUE(menu().item(kLaunchAtLoginTitle).isChecked());
  EXPECT_EQ(dispatcher.timerIntervals().size(), 2u);
  EXPECT_EQ(dispatcher.pendingGlobalTasks(), 1u);  // the first check
  EXPECT_EQ(versionLine({std::nullopt, "7"}), "Quillory Helper 1.0 (7)");
  EXPECT_EQ(versionLine({"2.1", std::nullopt}), "Quillory Helper 2.1 (?)");
}

TEST_F(ShellTest, StatusLineShowsTheCurrentLibrarysMarkerAndMovesOnWithTheTimer) {
  launch();
  publishMarker("Business", "business-eur", " \t2026-12-05T08:41:00+00:00\r\n");  // read trimmed
  refresh();
  EXPECT_EQ(libraryLine(), "Open Kettle Ledger to sync");
  EXPECT_EQ(statusLine(), "Never synced");  // no current library, no marker
  ASSERT_THAT(libraries().titles(), ElementsAre("No libraries seen yet"));
  EXPECT_FALSE(libraries().at(0).isEnabled() || libraries().at(0).hasAction());

  hostShows("Business");
  EXPECT_EQ(statusLine(), "Last sync: today at " + usTime("8:41", "am"));
  clock.set(clock.now() + std::chrono::hours(15));     // the next day
  dispatcher.tickTimersFor(std::chrono::seconds(60));  // the status refresh timer
  deliver();
  EXPECT_EQ(statusLine(), "Last sync: yesterday at " + usTime("8:41", "am"));
}

// The mark shows the service's status after the call, never the wish (a
// status that stays "requires approval" is tried on Qt).
TEST_F(ShellTest, LaunchAtLoginMarkFollowsTheServiceStatusOnly) {
  launch();
  loginItems.failWith("Operation not permitted");
  menu().item(kLaunchAtLoginTitle).choose();
  EXPECT_FALSE(menu().item(kLaunchAtLoginTitle).isChecked());
  EXPECT_THAT(log.lines(), ElementsAre("[Helper] Launch at login error: Operation not permitted"));

  loginItems.failWith(std::nullopt);
  loginItems.setStatus(platform::LoginItemStatus::enabled);
  menu().item(kLaunchAtLoginTitle).choose();
  EXPECT_FALSE(menu().item(kLaunchAtLoginTitle).isChecked());
  EXPECT_EQ(loginItems.unregisters(), 1u);
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

TEST_F(ShellTest, NotificationAfterTheDelegateIsGoneDoesNothing) {
  launch();
  manager->notifyStatusChanged();
  delegate.reset();  // neither the manager's hook nor the menu keeps it (LeakSanitizer would say)
  deliver();
  manager->callStatusHookNow();
  deliver();
}

}  // namespace
}  // namespace quillory::app::test
