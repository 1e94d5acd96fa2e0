// The manager's settings at start, the persistence of the last sync date,
// status delivery and the export errors' texts.

#include <thread>

#include "EngineFixture.h"
#include "publish/Derivations.h"

namespace quillory::engine::test {
namespace {

using platform::DefaultsValue;

const platform::Date kStoredDate = testing::FakeClock::defaultStart() - std::chrono::hours(30);

TEST_F(EngineTest, FirstStartWithEmptySettings) {
  const ExportState s = engine().state();
  EXPECT_TRUE(s.autoSyncEnabled);
  EXPECT_EQ(defaults.value(kAutoSyncEnabledKey), DefaultsValue(true));
  EXPECT_FALSE(s.isSyncing || s.lastSyncDate || s.idleTriggered);
  EXPECT_FALSE(s.currentLibraryName || s.lastError || s.knownLibraryName || s.pendingLibraryName ||
               s.confirmedLibraryName);
  EXPECT_EQ(s.lastKLActiveDate, clock.now());
  EXPECT_EQ(s.lastExportDate, kDistantPast);
  EXPECT_FALSE(defaults.value(kLastSyncDateKey).asDate());
}

// "autoSyncEnabled" is taken when it is a bool (a stored false survives a
// restart), else replaced by true.
TEST_F(EngineTest, AutoSyncAtStartTakesABoolElseWritesTrue) {
  const struct {
    const char* name;
    std::function<void()> store;
    bool expected, writes;
  } cases[] = {
      {"storedFalse", [&] { defaults.setBool(kAutoSyncEnabledKey, false); }, false, false},
      {"string", [&] { defaults.setString(kAutoSyncEnabledKey, "false"); }, true, true},
      {"otherType", [&] { defaults.setOther(kAutoSyncEnabledKey); }, true, true},
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

TEST_F(EngineTest, LastSyncDateIsTakenOnlyWhenItIsADate) {
  defaults.setDate(kLastSyncDateKey, kStoredDate);
  EXPECT_EQ(makeManager()->lastSyncDate(), kStoredDate);

  defaults.setString(kLastSyncDateKey, "2026-12-05T09:00:00Z");
  const std::size_t writes = defaults.writeCount();
  EXPECT_FALSE(makeManager()->lastSyncDate());
  EXPECT_EQ(defaults.value(kLastSyncDateKey).asString(),
            "2026-12-05T09:00:00Z");  // left in place
  EXPECT_EQ(defaults.writeCount(), writes);
}

TEST_F(EngineTest, LastSyncDatePersistenceRule) {
  const platform::Date later = clock.now() + std::chrono::seconds(5);
  engine().setLastSyncDate(later);
  EXPECT_EQ(engine().lastSyncDate(), later);
  EXPECT_EQ(defaults.value(kLastSyncDateKey).asDate(), later);

  const std::size_t writes = defaults.writeCount();
  engine().setLastSyncDate(std::nullopt);
  EXPECT_FALSE(engine().lastSyncDate());
  EXPECT_EQ(defaults.value(kLastSyncDateKey).asDate(),
            later);  // neither written nor removed
  EXPECT_EQ(defaults.writeCount(), writes);

  auto restarted = makeManager();
  EXPECT_EQ(restarted->lastSyncDate(), later);
  EXPECT_EQ(restarted->state().lastExportDate, kDistantPast);
}

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

TEST_F(EngineTest, NotifyStatusChangedWithoutHookOrManagerDoesNothing) {
  auto bare = ExportManager::create(
      Environment{defaults, dispatcher, clock, log, workspace, alerts, scripts, home.path()});
  bare->notifyStatusChanged();
  dispatcher.runMainUntilIdle();  // no hook: nothing to call, nothing breaks

  int calls = 0;
  bare->setOnStatusChanged([&] { ++calls; });
  bare->notifyStatusChanged();
  bare.reset();  // gone before the queued call runs
  dispatcher.runMainUntilIdle();
  EXPECT_EQ(calls, 0);
}

TEST(ExportErrorTexts, MessagesAndCaseNames) {
  const struct {
    ExportErrorCode code;
    const char *message, *caseName;
  } rows[] = {
      {ExportErrorCode::klNotResponding, "Kettle Ledger did not respond", "klNotResponding"},
      {ExportErrorCode::parseFailure, "Could not parse export", "parseFailure"},
      {ExportErrorCode::emptyLibrary, "Library is empty", "emptyLibrary"},
      {ExportErrorCode::noDestinations, "No write destinations found", "noDestinations"},
      {ExportErrorCode::nameConflict, "Library name conflict \u2014 see Helper alert", "nameConflict"},
      {ExportErrorCode::klNotAuthorized,
       "Allow Quillory Helper to control Kettle Ledger in System Settings \u203A Privacy & Security \u203A "
       "Automation",
       "klNotAuthorized"},
  };
  for (const auto& row : rows) {
    const ExportError error(row.code);
    EXPECT_STREQ(error.what(), row.message);
    EXPECT_EQ(error.caseName(), row.caseName);
  }
}

TEST(ExportManagerConstants, KeepFieldsMatchThePipelinesListAndDistantPastDoesNotOverflow) {
  const std::set<std::string> pipeline(publish::kKeptItemFields.begin(), publish::kKeptItemFields.end());
  EXPECT_EQ(ExportManager::keepFields(), pipeline);
  EXPECT_EQ(ExportManager::keepFields().size(), 16u);
  EXPECT_GT(secondsFromTo(kDistantPast, platform::Date::max()), 0);
  EXPECT_LT(secondsFromTo(platform::Date::max(), platform::Date::min()), 0);
  EXPECT_DOUBLE_EQ(secondsFromTo(kDistantPast, kDistantPast + std::chrono::seconds(180)), 180.0);
}

}  // namespace
}  // namespace quillory::engine::test
