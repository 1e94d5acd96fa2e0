// The manager's settings at start, the persistence of the last sync date and
// status delivery.

#include <thread>

#include "EngineFixture.h"
#include "platform/posix/PlistDefaults.h"

namespace quillory::engine::test {
namespace {

using platform::DefaultsValue;

// "autoSyncEnabled" is taken when it is a bool (a stored false survives a
// restart), else replaced by true; nothing else is read or set at start.
TEST_F(EngineTest, AutoSyncAtStartTakesABoolElseWritesTrue) {
  const struct {
    const char* name;
    std::function<void()> store;
    bool expected, writes;
  } cases[] = {
      {"empty", [] {}, true, true},
      {"storedFalse", [&] { defaults.setBool(kAutoSyncEnabledKey, false); }, false, false},
      {"string", [&] { defaults.setString(kAutoSyncEnabledKey, "false"); }, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.store();
    const std::size_t writesBefore = defaults.writeCount();
    EXPECT_EQ(makeManager()->autoSyncEnabled(), c.expected);
    EXPECT_EQ(defaults.value(kAutoSyncEnabledKey), DefaultsValue(c.expected));
    EXPECT_EQ(defaults.writeCount() - writesBefore, c.writes ? 1u : 0u);
  }
}

// A date is stored and read back at the next start, as the store keeps it;
// a value of another type is neither taken nor replaced.
TEST_F(EngineTest, LastSyncDatePersistence) {
  const platform::Date later = clock.now() + std::chrono::seconds(5);
  engine().setLastSyncDate(later);
  EXPECT_EQ(makeManager()->lastSyncDate(), later);

  // The file store keeps whole seconds: the manager keeps what it gives back.
  platform::posix::PlistDefaults file(home / "settings.plist", log, clock);
  auto onFile = ExportManager::create(
      Environment{file, dispatcher, clock, log, workspace, alerts, scripts, home.path()});
  onFile->setLastSyncDate(later + std::chrono::milliseconds(250));
  EXPECT_EQ(onFile->lastSyncDate(), later);

  defaults.setString(kLastSyncDateKey, "2026-12-05T09:00:00Z");
  EXPECT_FALSE(makeManager()->lastSyncDate());
  EXPECT_EQ(defaults.value(kLastSyncDateKey).asString(), "2026-12-05T09:00:00Z");
}

// The hook runs later, on the main thread.
TEST_F(EngineTest, NotifyStatusChangedReturnsBeforeTheHookRunsOnMain) {
  bool onMain = false;
  engine().setOnStatusChanged([&] {
    ++notifications;
    onMain = dispatcher.isMainThread();
  });
  engine().notifyStatusChanged();
  std::thread([&] { engine().notifyStatusChanged(); }).join();
  EXPECT_EQ(notifications, 0);
  EXPECT_EQ(dispatcher.runMainUntilIdle(), 2u);
  EXPECT_EQ(notifications, 2);
  EXPECT_TRUE(onMain);
}

}  // namespace
}  // namespace quillory::engine::test
