#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ShellFixture.h"
#include "app/MenuTitle.h"
#include "platform/Files.h"

namespace quillory::app::test {
namespace {

using ::testing::ElementsAre;

const std::string kQuoted = "Tom's \"Receipts\" & Co. (2026)";

class LibrariesTest : public ShellTest {
 protected:
  void SetUp() override {
    launch();
    // Stored in an order other than the menu's.
    defaults.setBool(libraries::syncLibraryKey("Zeta"), true);
    defaults.setBool(libraries::syncLibraryKey("Alpha"), false);
    defaults.setString(libraries::syncLibraryKey("Beta"), "not a bool");
    defaults.setBool(libraries::syncLibraryKey(kQuoted), true);
    publishMarker("Zeta", "zeta-eur", "2026-12-05T08:00:00Z");
    publishMarker(kQuoted, "toms-receipts-co-2026-usd", "2026-12-05T08:00:00Z");
    refresh();
  }

  bool published(const std::string& fileBase) {
    return platform::files::exists(home / documents() / (fileBase + ".json")) ||
           platform::files::exists(home / documents() / (fileBase + "_updated.txt"));
  }
};

TEST_F(ShellTest, EmptyRegistryShowsOnlyTheDisabledPlaceholder) {
  launch();
  refresh();
  ASSERT_EQ(libraries().size(), 1u);
  EXPECT_EQ(libraries().at(0).title(), "No libraries seen yet");
  EXPECT_FALSE(libraries().at(0).isEnabled());
  EXPECT_FALSE(libraries().at(0).hasAction());
}

TEST_F(LibrariesTest, ListsTheRegistryInItsOrderWithCheckMarks) {
  EXPECT_THAT(libraries().titles(), ElementsAre("Alpha", "Beta", kQuoted, "Zeta"));
  const std::vector<bool> checked = {false, false, true, true};
  for (std::size_t i = 0; i < libraries().size(); ++i) {
    const FakeMenuItem& item = libraries().at(i);
    SCOPED_TRACE(item.title());
    EXPECT_EQ(item.representedObject(), item.title());
    EXPECT_EQ(item.isChecked(), checked[i]);
    EXPECT_TRUE(item.isEnabled());
    EXPECT_TRUE(item.hasAction());
    EXPECT_EQ(item.keyEquivalent(), "");
  }
}

TEST_F(LibrariesTest, SwitchingOnAsksNothingAndWritesNoFile) {
  libraries().item("Alpha").choose();
  EXPECT_EQ(alerts.count(), 0u);
  EXPECT_EQ(defaults.value(libraries::syncLibraryKey("Alpha")).asBool(), true);
  EXPECT_TRUE(libraries().item("Alpha").isChecked());  // refreshed at once
  EXPECT_EQ(dispatcher.pendingGlobalTasks(),
            1u);  // only the launch's first check: no sync started
}

// "Remove" while a sync of the library is under way: the run, paused before
// its write step, publishes nothing.
TEST_F(LibrariesTest, ASyncUnderWayWhenTheLibraryIsRemovedWritesNothing) {
  hostShows("Zeta");
  hostShows("Zeta");
  scripts.setAnswer(bridge::kExportScript, R"({"items":[{"amounts":{"currency":"eur"}}]})");
  syncNow().choose();
  alerts.queueAnswer(0);
  libraries().item("Zeta").choose();
  dispatcher.runGlobalTasks();
  EXPECT_FALSE(published("zeta-eur"));
  EXPECT_TRUE(log.contains("[Helper] \u23ED Skipping 'Zeta' \u2014 sync disabled by user"));
}

class DeclinedRemovalTest : public LibrariesTest, public ::testing::WithParamInterface<int> {};

TEST_P(DeclinedRemovalTest, ChangesNothing) {
  alerts.queueAnswer(GetParam());
  libraries().item("Zeta").choose();
  ASSERT_EQ(alerts.count(), 1u);
  EXPECT_EQ(defaults.value(libraries::syncLibraryKey("Zeta")).asBool(), true);
  EXPECT_TRUE(published("zeta-eur"));
  EXPECT_TRUE(libraries().item("Zeta").isChecked());
  EXPECT_EQ(dispatcher.pendingMainTasks(), 0u);  // no notification either
}

INSTANTIATE_TEST_SUITE_P(CancelOrDismiss, DeclinedRemovalTest, ::testing::Values(1, -1));

TEST_F(LibrariesTest, RemoveWritesFalseDeletesThePairAndKeepsTheLibraryListed) {
  alerts.queueAnswer(0);
  libraries().item(kQuoted).choose();

  ASSERT_EQ(alerts.count(), 1u);
  const platform::Alert alert = alerts.shown().front();
  EXPECT_EQ(alert.message, "Remove \"Tom's \"Receipts\" & Co. (2026)\" from mobile devices?");
  EXPECT_EQ(alert.informativeText,
            "Disabling sync will delete this library and its data from "
            "Quillory on your iPhone and/or iPad.");
  EXPECT_THAT(alert.buttons, ElementsAre("Remove", "Cancel"));
  EXPECT_EQ(alert.style, platform::AlertStyle::warning);
  EXPECT_EQ(alerts.offMainCalls(), 0u);

  EXPECT_EQ(defaults.value(libraries::syncLibraryKey(kQuoted)).asBool(), false);
  EXPECT_FALSE(published("toms-receipts-co-2026-usd"));
  EXPECT_TRUE(published("zeta-eur"));  // other libraries keep their files
  EXPECT_THAT(libraries().titles(), ElementsAre("Alpha", "Beta", kQuoted, "Zeta"));
  EXPECT_FALSE(libraries().item(kQuoted).isChecked());
  EXPECT_EQ(dispatcher.pendingMainTasks(),
            1u);  // the notification, for the later refresh
}

TEST_F(ShellTest, EveryMenuCommandIsIgnoredWhileAnAlertIsOpen) {
  // Trays that deliver clicks over D-Bus reach the actions past Qt's modal
  // blocking: here, every item is chosen while the first-sync question is open.
  launch();
  defaults.setBool(libraries::syncLibraryKey("Zeta"), true);
  hostShows("New");
  int opened = 0;
  alerts.setWhileOpen([this, &opened](const platform::Alert&) {
    if (opened++ > 0) return;  // a nested alert (the fault) must not recurse
    for (std::size_t i = 0; i < menu().size(); ++i) menu().at(i).choose();
    for (std::size_t i = 0; i < libraries().size(); ++i) libraries().at(i).choose();
  });
  alerts.queueAnswer(1);  // the user's own answer, "Don't Sync", comes after
  manager->sync("manual");

  EXPECT_EQ(alerts.count(), 1u);  // no switch-off question inside it
  EXPECT_EQ(terminateCalls, 0);   // Quit did not end the question
  EXPECT_EQ(defaults.value(libraries::syncLibraryKey("New")).asBool(), false);
  EXPECT_EQ(defaults.value(libraries::syncLibraryKey("Zeta")).asBool(), true);
  EXPECT_TRUE(manager->autoSyncEnabled());
  EXPECT_EQ(loginItems.registers(), 0u);

  menu().item(kQuitTitle).choose();  // and once the alert is closed, it works
  EXPECT_EQ(terminateCalls, 1);
}

TEST(MenuTitle, LongTextsAreElidedInTheMiddleByCharacters) {
  auto repeat = [](const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
  };
  const std::string sixty(60, 'x'), accent = "e\u0301", han = "\u65E5";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {sixty, sixty},
      {"A" + sixty, "A" + std::string(29, 'x') + "\u2026" + std::string(29, 'x')},
      {repeat(han, 60), repeat(han, 60)},  // 180 bytes, 60 characters
      {repeat(accent, 100),
       repeat(accent, 30) + "\u2026" + repeat(accent, 29)},  // marks stay on their letter
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(elidedMenuTitle(text), expected) << text;
}

TEST_F(ShellTest, LongLibraryNamesAreShortInTitlesAndWholeInToolTipsAndAlerts) {
  const std::string name = "Receipts " + std::string(3000, 'n') + " EUR";
  launch();
  defaults.setBool(libraries::syncLibraryKey(name), true);
  hostShows(name);
  EXPECT_EQ(libraryLine(), "Library: " + elidedMenuTitle(name));
  EXPECT_EQ(menu().at(0).toolTip(), name);
  FakeMenuItem& item = libraries().at(0);
  EXPECT_EQ(item.title(), elidedMenuTitle(name));
  EXPECT_EQ(item.toolTip(), name);
  alerts.queueAnswer(1);
  item.choose();
  EXPECT_EQ(alerts.shown().at(0).message, "Remove \"" + name + "\" from mobile devices?");
}

}  // namespace
}  // namespace quillory::app::test
