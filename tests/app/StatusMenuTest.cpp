#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ShellFixture.h"
#include "app/VersionLine.h"

namespace quillory::app::test {
namespace {

using ::testing::ElementsAre;

constexpr const char* kNarrowSpace = "\u202F";  // CLDR's space before "am"/"pm" in US English

std::string usTime(const std::string& clock, const std::string& half) { return clock + kNarrowSpace + half; }

TEST_F(ShellTest, LaunchBuildsTheTwelveItemsWithTheirFirstTexts) {
  launch();
  EXPECT_EQ(accessoryCalls, 1);
  ASSERT_NE(statusItem, nullptr);
  EXPECT_TRUE(statusItem->iconShown());
  EXPECT_FALSE(statusItem->indicatorAnimating());

  EXPECT_THAT(menu().titles(), ElementsAre("Kettle Ledger not running", "Never synced", "---", "Sync Now",
                                           "---", "Libraries", "---", "Auto-sync", "Launch at Login", "---",
                                           "Quillory Helper 1.2 (34)", "Quit Quillory Helper"));
  struct Expected {
    std::size_t index;
    bool enabled, checked, hasAction;
    std::string key;
  };
  for (const Expected& e : {Expected{0, false, false, false, ""}, Expected{1, false, false, false, ""},
                            Expected{3, true, false, true, "s"}, Expected{5, true, false, false, ""},
                            Expected{7, true, true, true, ""}, Expected{8, true, false, true, ""},
                            Expected{10, false, false, false, ""}, Expected{11, true, false, true, "q"}}) {
    SCOPED_TRACE(menu().at(e.index).title());
    EXPECT_EQ(menu().at(e.index).isEnabled(), e.enabled);
    EXPECT_EQ(menu().at(e.index).isChecked(), e.checked);
    EXPECT_EQ(menu().at(e.index).hasAction(), e.hasAction);
    EXPECT_EQ(menu().at(e.index).keyEquivalent(), e.key);
  }
  // Before the first status notification the Libraries submenu is empty.
  EXPECT_EQ(libraries().size(), 0u);
  // Monitoring started after the hook was installed; launching itself does not
  // refresh.
  EXPECT_EQ(dispatcher.timerCount(), 2u);
  EXPECT_EQ(dispatcher.pendingGlobalTasks(), 1u);  // the first check
  EXPECT_TRUE(menu().item(kQuitTitle).choose());
  EXPECT_EQ(terminateCalls, 1);
}

TEST_F(ShellTest, ChecksAreReadAtBuildFromSettingsAndLoginStatus) {
  defaults.setBool(engine::kAutoSyncEnabledKey, false);
  loginItems.setStatus(platform::LoginItemStatus::enabled);
  launch();
  EXPECT_FALSE(menu().item(kAutoSyncTitle).isChecked());
  EXPECT_TRUE(menu().item(kLaunchAtLoginTitle).isChecked());
}

TEST(VersionLine, FallsBackForEachMissingPartOnItsOwn) {
  EXPECT_EQ(versionLine({"2.1", "7"}), "Quillory Helper 2.1 (7)");
  EXPECT_EQ(versionLine({std::nullopt, std::nullopt}), "Quillory Helper 1.0 (?)");
  EXPECT_EQ(versionLine({"2.1", std::nullopt}), "Quillory Helper 2.1 (?)");
  EXPECT_EQ(versionLine({std::nullopt, "7"}), "Quillory Helper 1.0 (7)");
}

// The four states through the real manager: a published marker, a running
// sync, the failure it ends in, and the marker's own date again once a later
// run clears the error.
TEST_F(ShellTest, StatusLineFollowsTheSyncThroughItsStates) {
  launch();
  defaults.setBool(libraries::syncLibraryKey("Business"), true);
  publishMarker("Business", "business-eur", "2026-12-05T08:41:00Z");
  hostShows("Business");
  EXPECT_EQ(libraryLine(), "Library: Business");
  EXPECT_EQ(statusLine(), "Last sync: today at " + usTime("8:41", "am"));
  EXPECT_TRUE(syncNow().isEnabled());

  // The menu is not refreshed by "Sync Now" itself, only by the notification.
  syncNow().choose();
  EXPECT_EQ(statusLine(), "Last sync: today at " + usTime("8:41", "am"));
  deliver();
  EXPECT_EQ(statusLine(), "Syncing\u2026");
  EXPECT_FALSE(syncNow().isEnabled());
  EXPECT_TRUE(statusItem->indicatorAnimating());
  EXPECT_FALSE(statusItem->iconShown());

  dispatcher.runGlobalTasks();  // the export script answers nothing
  deliver();
  EXPECT_EQ(statusLine(),
            "\u26A0 Kettle Ledger did not respond");  // although an older marker
                                                      // exists
  EXPECT_TRUE(syncNow().isEnabled());
  EXPECT_FALSE(statusItem->indicatorAnimating());
  EXPECT_TRUE(statusItem->iconShown());
}

TEST_F(ShellTest, WithoutCurrentLibraryTheLineNeverShowsAMarker) {
  launch();
  publishMarker("Business", "business-eur", "2026-12-05T08:41:00Z");
  refresh();
  EXPECT_EQ(libraryLine(), "Open Kettle Ledger to sync");
  EXPECT_EQ(statusLine(), "Never synced");

  hostShows("Business");
  EXPECT_EQ(statusLine(), "Last sync: today at " + usTime("8:41", "am"));
  workspace.quit(engine::ExportManager::klBundleID);
  workspace.terminate(std::string(engine::ExportManager::klBundleID));
  deliver();
  EXPECT_EQ(libraryLine(), "Open Kettle Ledger to sync");
  EXPECT_EQ(statusLine(), "Never synced");
}

struct MarkerCase {
  const char* name;
  std::string text;
  std::string line;
  friend void PrintTo(const MarkerCase& c, std::ostream* os) { *os << c.name; }
};

class MarkerTest : public ShellTest, public ::testing::WithParamInterface<MarkerCase> {};

TEST_P(MarkerTest, StatusLineReadsTheCurrentLibrarysMarker) {
  launch();
  publishMarker("Business", "business-eur", GetParam().text);
  hostShows("Business");
  EXPECT_EQ(statusLine(), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, MarkerTest,
    ::testing::Values(
        MarkerCase{"PlainNewline", "2026-12-05T08:41:00Z\n", "Last sync: today at " + usTime("8:41", "am")},
        MarkerCase{"WhitespaceAndOffset", " \t2026-12-04T21:05:00+00:00\r\n",
                   "Last sync: yesterday at " + usTime("9:05", "pm")},
        MarkerCase{"FractionalSeconds", "2026-12-05T08:41:00.250Z", "Never synced"},
        MarkerCase{"NoTimeZone", "2026-12-05T08:41:00", "Never synced"},
        MarkerCase{"TrailingByte", std::string("2026-12-05T08:41:00Z\xff", 21), "Never synced"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShellTest, RelativeTimeMovesOnAcrossMidnightAtTheNextRefresh) {
  clock.set(utc(2026, 12, 5, 23, 58));
  launch();
  publishMarker("Business", "business-eur", "2026-12-05T23:50:00Z");
  hostShows("Business");
  EXPECT_EQ(statusLine(), "Last sync: today at " + usTime("11:50", "pm"));

  clock.advance(5 * 60);                                                    // 00:03 on the next day
  EXPECT_EQ(statusLine(), "Last sync: today at " + usTime("11:50", "pm"));  // unchanged until a refresh
  dispatcher.tickTimersFor(60);                                             // the status refresh timer
  deliver();
  EXPECT_EQ(statusLine(), "Last sync: yesterday at " + usTime("11:50", "pm"));

  clock.advance(24 * 3600);
  refresh();
  EXPECT_EQ(statusLine(), "Last sync: Dec 5 at " + usTime("11:50", "pm"));
}

TEST_F(ShellTest, AutoSyncWritesTheSettingAndRefreshesWithoutANotification) {
  launch();
  deliver();
  ASSERT_TRUE(menu().item(kAutoSyncTitle).isChecked());

  menu().item(kAutoSyncTitle).choose();
  EXPECT_EQ(defaults.value(engine::kAutoSyncEnabledKey).asBool(), false);
  EXPECT_FALSE(menu().item(kAutoSyncTitle).isChecked());
  EXPECT_EQ(dispatcher.pendingMainTasks(),
            0u);  // no status notification was sent
}

struct LoginCase {
  std::string name;
  platform::LoginItemStatus before;
  bool statusFollowsCalls;
  std::optional<std::string> error;
  std::size_t registers, unregisters;
  bool checkedAfter;
  friend void PrintTo(const LoginCase& c, std::ostream* os) { *os << c.name; }
};

class LaunchAtLoginTest : public ShellTest, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(LaunchAtLoginTest, CheckMarkFollowsTheServiceStatusOnly) {
  const LoginCase& c = GetParam();
  if (c.statusFollowsCalls) {
    loginItems.setStatus(c.before);
  } else {
    loginItems.fixStatus(c.before);
  }
  loginItems.failWith(c.error);
  launch();
  menu().item(kLaunchAtLoginTitle).choose();
  EXPECT_EQ(loginItems.registers(), c.registers);
  EXPECT_EQ(loginItems.unregisters(), c.unregisters);
  EXPECT_EQ(menu().item(kLaunchAtLoginTitle).isChecked(), c.checkedAfter);
  if (c.error) {
    EXPECT_THAT(log.lines(), ElementsAre("[Helper] Launch at login error: " + *c.error));
  } else {
    EXPECT_EQ(log.size(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, LaunchAtLoginTest,
    ::testing::Values(
        LoginCase{"RequiresApprovalRegistersAgainAndStaysUnchecked",
                  platform::LoginItemStatus::requiresApproval, false, std::nullopt, 1, 0, false},
        LoginCase{"FailedRegisterIsLogged", platform::LoginItemStatus::notRegistered, true,
                  "Operation not permitted", 1, 0, false},
        LoginCase{"NotRegisteredRegisters", platform::LoginItemStatus::notRegistered, true, std::nullopt, 1,
                  0, true},
        LoginCase{"EnabledUnregisters", platform::LoginItemStatus::enabled, true, std::nullopt, 0, 1, false}),
    [](const auto& info) { return info.param.name; });

TEST_F(ShellTest, NotificationAfterTheDelegateIsGoneDoesNothing) {
  launch();
  std::weak_ptr<AppDelegate> weak = delegate;
  manager->notifyStatusChanged();
  delegate.reset();
  EXPECT_TRUE(weak.expired());  // neither the manager's hook nor the menu keeps it alive
  deliver();
  manager->callStatusHookNow();
  deliver();
}

TEST_F(ShellTest, WithoutAButtonThereIsNoMenuAndRefreshesStillRun) {
  hasButton = false;
  launch();
  hostShows("Business");
  EXPECT_EQ(statusItem->menu(), nullptr);
}

}  // namespace
}  // namespace quillory::app::test
