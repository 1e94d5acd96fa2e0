// The export run: the opt-in gate, the outcome lines and state, and runs
// that never overlap.

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <utility>

#include "EngineFixture.h"

namespace quillory::engine::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSkipHome = "[Helper] \u23ED Skipping 'Home' \u2014 sync disabled by user";

// An enabled, settled library with a failed run behind it (lastError set).
class ExportRunTest : public EngineTest {
 protected:
  void SetUp() override {
    settleLibrary("Home");
    defaults.setBool("sync_library_Home", true);
    engine().sync("manual");  // no export answer: klNotResponding
    settle();
    ASSERT_EQ(engine().lastError(), "Kettle Ledger did not respond");
    log.clear();
    takeNotifications();
  }
};

TEST_F(ExportRunTest, DeclinedLibraryIsSkippedWithoutTouchingTheState) {
  defaults.setBool("sync_library_Home", false);
  engine().sync("manual");
  settle();
  EXPECT_EQ(log.lines(), std::vector<std::string>{kSkipHome});
  EXPECT_FALSE(engine().isSyncing());
  EXPECT_EQ(engine().lastError(), "Kettle Ledger did not respond");
  EXPECT_EQ(takeNotifications(), 0);
  EXPECT_EQ(alerts.count(), 0u);
  EXPECT_EQ(scripts.calls(kExportScript), 1u);  // only the run of SetUp
}

TEST_F(EngineTest, DontSyncAtTheFirstSyncAlertEndsInTheSkipLine) {
  settleLibrary("Home");
  takeNotifications();
  alerts.queueAnswer(1);
  alerts.setWhileOpen([&](const platform::Alert&) { EXPECT_FALSE(engine().isSyncing()); });
  engine().sync("manual");
  settle();
  EXPECT_EQ(alerts.count(), 1u);
  EXPECT_EQ(log.lines(), std::vector<std::string>{kSkipHome});
  EXPECT_EQ(scripts.calls(kExportScript), 0u);
  EXPECT_FALSE(engine().isSyncing());
  EXPECT_EQ(takeNotifications(), 1);  // the stored answer
}

TEST_F(EngineTest, SkipLineNamesTheLibraryAsItIsAfterTheAnswer) {
  settleLibrary("Home");
  alerts.queueAnswer(1);
  alerts.setWhileOpen([&](const platform::Alert&) { engine().klDidQuit(ExportManager::klBundleID); });
  engine().sync("manual");
  settle();
  EXPECT_TRUE(log.contains("[Helper] \u23ED Skipping '?' \u2014 sync disabled by user"));
}

TEST_F(ExportRunTest, TwoQuickSyncNowsStartOneRun) {
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  scripts.setHandler(kExportScript, [gate] {
    gate.wait();
    return std::string(kExportJson);
  });
  engine().sync("manual");
  EXPECT_TRUE(engine().isSyncing());
  EXPECT_FALSE(engine().lastError());
  const std::size_t linesBefore = log.size();
  engine().sync("manual");  // leaves no trace
  EXPECT_EQ(log.size(), linesBefore);
  release.set_value();
  settle();
  EXPECT_EQ(scripts.calls(kExportScript), 2u);  // SetUp's run and this one
  EXPECT_EQ(log.count("Export OK"), 1u);
  EXPECT_EQ(takeNotifications(), 2);  // syncing, then the outcome
}

TEST_F(EngineTest, NoLibraryAndNoHostRunsWithoutAQuestionAndFails) {
  engine().sync("manual");
  settle();
  EXPECT_EQ(alerts.count(), 0u);
  EXPECT_EQ(scripts.totalCalls(), 0u);
  EXPECT_EQ(log.lines(), std::vector<std::string>{"[Helper] \u2717 Export failed (manual): klNotResponding"});
  EXPECT_EQ(engine().lastError(), "Kettle Ledger did not respond");
  EXPECT_FALSE(engine().isSyncing());
  EXPECT_FALSE(engine().lastSyncDate());
  EXPECT_EQ(engine().state().lastExportDate, kDistantPast);
  EXPECT_EQ(takeNotifications(), 2);
}

TEST_F(EngineTest, SuccessRecordsTheOutcomeAndTheMenuSeesItWithSyncingOff) {
  settleLibrary("Biz");
  defaults.setBool("sync_library_Biz", true);
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  scripts.setHandler(kExportScript, [gate] {
    gate.wait();
    return std::string(kExportJson);
  });
  std::vector<ExportState> seen;
  engine().setOnStatusChanged([&] { seen.push_back(engine().state()); });

  engine().sync("idle 3 min");
  dispatcher.runMainUntilIdle();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].isSyncing);

  clock.advance(7);
  release.set_value();
  settle();
  ASSERT_EQ(seen.size(), 2u);
  const ExportState& after = seen[1];
  EXPECT_FALSE(after.isSyncing);
  EXPECT_FALSE(after.lastError);
  EXPECT_EQ(after.lastSyncDate, clock.now());
  EXPECT_EQ(after.lastExportDate, clock.now());
  EXPECT_EQ(defaults.value(kLastSyncDateKey).asDate(), clock.now());
  EXPECT_TRUE(log.contains("[Helper] \u2713 Export OK (idle 3 min) \u2192 1 destination(s)"));
  EXPECT_EQ(defaults.value("library_filename_Biz").asString(), "biz-eur.json");
  EXPECT_EQ(engine().currentLibrarySyncDate(), std::chrono::floor<std::chrono::seconds>(clock.now()));

  auto restarted = makeManager();
  EXPECT_EQ(restarted->lastSyncDate(), clock.now());
  EXPECT_EQ(restarted->state().lastExportDate, kDistantPast);
}

struct FailureCase {
  const char* name;
  std::string exportAnswer;
  std::string message;
  std::string description;
};

class ExportFailureTest : public ExportRunTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ExportFailureTest, RecordsTheMessageAndWritesTheCaseName) {
  scripts.setAnswer(kExportScript, GetParam().exportAnswer);
  const ExportState before = engine().state();
  engine().sync("idle 4 min");
  settle();
  EXPECT_EQ(log.lines(), std::vector<std::string>{"[Helper] \u2717 Export failed (idle 4 min): " +
                                                  GetParam().description});
  const ExportState after = engine().state();
  EXPECT_EQ(after.lastError, GetParam().message);
  EXPECT_FALSE(after.isSyncing);
  EXPECT_EQ(after.lastSyncDate, before.lastSyncDate);
  EXPECT_EQ(after.lastExportDate, before.lastExportDate);
  EXPECT_EQ(after.currentLibraryName, "Home");
  EXPECT_EQ(takeNotifications(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ExportFailureTest,
    ::testing::Values(FailureCase{"noAnswer", "", "Kettle Ledger did not respond", "klNotResponding"},
                      FailureCase{"notJson", "{items", "Could not parse export", "parseFailure"},
                      FailureCase{"topLevelArray", "[1]", "Could not parse export", "parseFailure"},
                      FailureCase{"noItems", R"({"items":[]})", "Library is empty", "emptyLibrary"}),
    [](const auto& info) { return info.param.name; });

TEST_F(ExportRunTest, AnErrorOfAnotherKindUsesItsOwnDescription) {
  scripts.setHandler(kExportScript, []() -> std::string { throw std::runtime_error("pipe broke"); });
  engine().sync("manual");
  settle();
  EXPECT_EQ(log.lines(), std::vector<std::string>{"[Helper] \u2717 Export failed (manual): pipe broke"});
  EXPECT_EQ(engine().lastError(), "pipe broke");
  EXPECT_FALSE(engine().isSyncing());

  scripts.setHandler(kExportScript, {});
  scripts.setAnswer(kExportScript, kExportJson);
  engine().sync("manual");  // the slot was given back
  settle();
  EXPECT_TRUE(log.contains("Export OK (manual)"));
}

// While the first-sync alert waits for the user, a second sync (from the
// main thread inside the alert, or from another thread) returns at once.
TEST_F(EngineTest, SecondSyncWhileTheQuestionIsOpenReturnsAtOnce) {
  settleLibrary("Biz");
  scripts.setAnswer(kExportScript, kExportJson);
  alerts.queueAnswer(0);
  bool nested = false;
  alerts.setWhileOpen([&](const platform::Alert&) {
    if (std::exchange(nested, true)) return;  // a second question: counted below
    engine().sync("manual");                  // nested, on the main thread
    auto other = std::async(std::launch::async, [&] { engine().sync("idle 3 min"); });
    EXPECT_EQ(other.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(engine().isSyncing());
  });
  std::thread first([&] { engine().sync("manual"); });
  EXPECT_TRUE(dispatcher.pumpUntil([&] { return alerts.count() >= 1; }));
  first.join();
  settle();
  EXPECT_EQ(alerts.count(), 1u);
  EXPECT_EQ(scripts.calls(kExportScript), 1u);
  EXPECT_EQ(log.count("Export OK"), 1u);
  EXPECT_EQ(alerts.offMainCalls(), 0u);
}

}  // namespace
}  // namespace quillory::engine::test
