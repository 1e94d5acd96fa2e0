// The opt-in registry: stored answers, the listing order and the first-sync
// question.

#include "EngineFixture.h"

namespace quillory::engine::test {
namespace {

TEST_F(EngineTest, RegistryStatesAndOrder) {
  EXPECT_TRUE(engine().knownLibraries().empty());
  EXPECT_FALSE(engine().isLibraryEnabled("Home"));

  defaults.setBool("sync_library_b", true);
  defaults.setBool("sync_library_A", false);
  defaults.setString("sync_library_a", "yes");  // another type: listed, not enabled
  defaults.setBool("sync_library_", true);      // the bare prefix names the empty library
  defaults.setBool("library_path_c", true);     // not a registry key
  EXPECT_EQ(engine().knownLibraries(), (std::vector<std::string>{"", "A", "a", "b"}));
  EXPECT_TRUE(engine().isLibraryEnabled("b"));
  EXPECT_FALSE(engine().isLibraryEnabled("A"));
  EXPECT_FALSE(engine().isLibraryEnabled("a"));

  engine().setLibraryEnabled("A", true);
  EXPECT_TRUE(engine().isLibraryEnabled("A"));
  EXPECT_EQ(takeNotifications(), 0);  // the menu command notifies itself
}

TEST_F(EngineTest, FirstSyncAlertTexts) {
  const std::string name = "Caf\u00e9 \"Main\" 'books'";
  alerts.queueAnswer(0);
  EXPECT_TRUE(engine().confirmSync(name));
  ASSERT_EQ(alerts.count(), 1u);
  const platform::Alert shown = alerts.shown().front();
  EXPECT_EQ(shown.message, "Sync \"" + name + "\" with Quillory?");
  EXPECT_EQ(shown.informativeText,
            "Quillory Helper will sync this library to your iPhone and iPad automatically. You can change "
            "this later in the Helper menu under Libraries.");
  EXPECT_EQ(shown.style, platform::AlertStyle::informational);
  EXPECT_EQ(shown.buttons, (std::vector<std::string>{"Sync", "Don't Sync"}));
  EXPECT_EQ(defaults.value("sync_library_" + name).asBool(), true);  // the key is the name unchanged
}

struct AnswerCase {
  const char* name;
  int button;  // -1: the alert ended otherwise
  bool expected;
};

class ConfirmSyncAnswerTest : public EngineTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(ConfirmSyncAnswerTest, StoresTheAnswerAndNotifiesOnce) {
  alerts.queueAnswer(GetParam().button);
  EXPECT_EQ(engine().confirmSync("Home"), GetParam().expected);
  EXPECT_EQ(defaults.value("sync_library_Home").asBool(), GetParam().expected);
  EXPECT_EQ(takeNotifications(), 1);
  EXPECT_EQ(engine().knownLibraries(), std::vector<std::string>{"Home"});

  // Asked once: later calls answer from the store, silently.
  EXPECT_EQ(engine().confirmSync("Home"), GetParam().expected);
  EXPECT_EQ(alerts.count(), 1u);
  EXPECT_EQ(takeNotifications(), 0);
}

INSTANTIATE_TEST_SUITE_P(Answers, ConfirmSyncAnswerTest,
                         ::testing::Values(AnswerCase{"Sync", 0, true}, AnswerCase{"DontSync", 1, false},
                                           AnswerCase{"Dismissed", -1, false}),
                         [](const auto& info) { return info.param.name; });

TEST_F(EngineTest, ConfirmSyncAsksAgainOverAValueOfAnotherType) {
  defaults.setString("sync_library_Home", "true");
  alerts.queueAnswer(1);
  EXPECT_FALSE(engine().confirmSync("Home"));
  EXPECT_EQ(alerts.count(), 1u);
  EXPECT_EQ(defaults.value("sync_library_Home").asBool(), false);
}

}  // namespace
}  // namespace quillory::engine::test
