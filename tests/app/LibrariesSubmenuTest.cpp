#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ShellFixture.h"
#include "app/MenuTitle.h"
#include "platform/Files.h"

namespace quillory::app::test {
namespace {

using ::testing::ElementsAre;

const std::string kQuoted = "Tom's \"Receipts\" & Co. (2026)";

TEST_F(ShellTest, LibrariesAreListedSwitchedOnAtOnceAndOffOnlyAfterRemove) {
  launch();
  // Stored in an order other than the menu's.
  defaults.setBool(libraries::syncLibraryKey("Zeta"), true);
  defaults.setBool(libraries::syncLibraryKey("Alpha"), false);
  defaults.setString(libraries::syncLibraryKey("Beta"), "not a bool");
  defaults.setBool(libraries::syncLibraryKey(kQuoted), true);
  publishMarker(kQuoted, "toms-receipts-co-2026-usd", "2026-12-05T08:00:00Z");
  refresh();
  EXPECT_THAT(libraries().titles(), ElementsAre("Alpha", "Beta", kQuoted, "Zeta"));
  for (std::size_t i = 0; i < 4; ++i)
    EXPECT_EQ(libraries().at(i).isChecked(), i >= 2) << i;  // the last two are on

  libraries().item("Alpha").choose();
  EXPECT_TRUE(libraries().item("Alpha").isChecked());  // switched on and refreshed at once
  EXPECT_EQ(dispatcher.pendingGlobalTasks(), 1u);      // only the launch's first check: no sync

  alerts.queueAnswer(-1);  // an alert ended without a button is no "Remove" (Cancel is tried on Qt)
  libraries().item(kQuoted).choose();
  EXPECT_TRUE(libraries().item(kQuoted).isChecked());

  alerts.queueAnswer(0);
  libraries().item(kQuoted).choose();
  EXPECT_EQ(alerts.count(), 2u);  // none for switching on
  EXPECT_EQ(alerts.shown().back().message, "Remove \"Tom's \"Receipts\" & Co. (2026)\" from mobile devices?");
  EXPECT_FALSE(platform::files::exists(home / documents() / "toms-receipts-co-2026-usd.json"));
  EXPECT_FALSE(libraries().item(kQuoted).isChecked());
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
  manager->sync("manual");

  EXPECT_EQ(alerts.count(), 1u);
  EXPECT_TRUE(manager->autoSyncEnabled());
  EXPECT_EQ(std::pair(loginItems.registers(), terminated), std::pair(std::size_t{0}, 0));
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
