#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ShellFixture.h"

namespace quillory::app::test {
namespace {

// CLDR's space before "am"/"pm" in US English.
std::string usTime(const std::string& clock, const std::string& half) { return clock + "\u202F" + half; }

TEST_F(ShellTest, LaunchBuildsTheMenuAndStartsMonitoring) {
  defaults.setBool(engine::kAutoSyncEnabledKey, false);
  loginItems.setStatus(platform::LoginItemStatus::enabled);
  launch();
  EXPECT_EQ(accessoryCalls, 1);
  EXPECT_TRUE(statusItem->iconShown());
  for (std::size_t line : {0, 1, 10}) EXPECT_FALSE(menu().at(line).isEnabled()) << line;
  EXPECT_FALSE(menu().item(kAutoSyncTitle).isChecked());  // both marks read at launch
  EXPECT_TRUE(menu().item(kLaunchAtLoginTitle).isChecked());
  EXPECT_EQ(dispatcher.timerIntervals().size(), 2u);
  EXPECT_EQ(dispatcher.pendingGlobalTasks(), 1u);  // the first check
}

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
