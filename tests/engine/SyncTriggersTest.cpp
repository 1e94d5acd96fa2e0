// The triggers: monitoring set-up, the host test, name tracking, the host's
// termination and activation, and the idle rule.

#include "EngineFixture.h"

namespace quillory::engine::test {
namespace {

using platform::QualityOfService;

TEST_F(EngineTest, StartMonitoringRegistersObserversTimersAndOneCheck) {
  engine().startMonitoring();
  EXPECT_EQ(workspace.activationObserverCount(), 1u);
  EXPECT_EQ(workspace.terminationObserverCount(), 1u);
  EXPECT_EQ(dispatcher.timerIntervals(), (std::vector<double>{10.0, 60.0}));
  EXPECT_EQ(dispatcher.globalCalls(), std::vector<QualityOfService>{QualityOfService::background});
  settle();

  // One minute: six check ticks, and one direct call of the status hook.
  EXPECT_EQ(dispatcher.tickTimersFor(60), 7u);
  EXPECT_EQ(notifications, 1);
  EXPECT_EQ(dispatcher.globalCalls().size(), 7u);
  settle();
  EXPECT_EQ(takeNotifications(), 1);

  // Observers and timers hold the manager weakly.
  manager.reset();
  dispatcher.tickTimersFor(60);
  workspace.activate(std::string(ExportManager::klBundleID));
  EXPECT_EQ(dispatcher.globalCalls().size(), 7u);
}

TEST_F(EngineTest, HostNotRunningClearsTheShownNameOnceAndRunsNoScript) {
  settleLibrary("A");
  takeNotifications();
  hostRunning(false);
  const std::size_t scriptCalls = scripts.totalCalls();
  engine().periodicCheck();
  engine().periodicCheck();
  EXPECT_EQ(takeNotifications(), 1);
  EXPECT_EQ(scripts.totalCalls(), scriptCalls);
  const ExportState s = engine().state();
  EXPECT_FALSE(s.currentLibraryName);
  EXPECT_EQ(s.knownLibraryName, "A");
  EXPECT_EQ(s.confirmedLibraryName, "A");
  EXPECT_FALSE(s.isSyncing);
  EXPECT_EQ(scripts.lastTimeout(kNameScript), 5.0);
}

TEST_F(EngineTest, NewNameIsShownAtOnceAndSettlesOnItsSecondSighting) {
  hostRunning(true);
  checkReporting("A");
  ExportState s = engine().state();
  EXPECT_EQ(s.currentLibraryName, "A");
  EXPECT_EQ(s.pendingLibraryName, "A");
  EXPECT_FALSE(s.knownLibraryName || s.confirmedLibraryName);
  EXPECT_EQ(takeNotifications(), 1);

  checkReporting("A");
  s = engine().state();
  EXPECT_FALSE(s.pendingLibraryName);
  EXPECT_EQ(s.knownLibraryName, "A");
  EXPECT_EQ(s.confirmedLibraryName, "A");
  EXPECT_EQ(s.currentLibraryName, "A");
  EXPECT_EQ(takeNotifications(), 1);

  checkReporting("A");
  EXPECT_EQ(takeNotifications(), 0);
}

TEST_F(EngineTest, SwitchingToBAndBackToADropsThePendingName) {
  settleLibrary("A");
  takeNotifications();
  checkReporting("B");
  EXPECT_EQ(engine().currentLibraryName(), "B");
  EXPECT_EQ(takeNotifications(), 1);
  checkReporting("A");
  const ExportState s = engine().state();
  EXPECT_EQ(s.currentLibraryName, "A");
  EXPECT_FALSE(s.pendingLibraryName);
  EXPECT_EQ(s.knownLibraryName, "A");
  EXPECT_EQ(takeNotifications(), 1);
}

TEST_F(EngineTest, ATimedOutNameScriptSettlesNoLibraryAtOnce) {
  settleLibrary("A");
  takeNotifications();
  checkReporting("");  // what the runner returns after a time-out
  ExportState s = engine().state();
  EXPECT_FALSE(s.currentLibraryName || s.knownLibraryName || s.confirmedLibraryName || s.pendingLibraryName);
  EXPECT_EQ(takeNotifications(), 1);

  checkReporting("A");
  EXPECT_EQ(engine().state().pendingLibraryName, "A");
  checkReporting("A");
  s = engine().state();
  EXPECT_EQ(s.knownLibraryName, "A");
  EXPECT_EQ(s.confirmedLibraryName, "A");
  EXPECT_EQ(takeNotifications(), 2);
}

TEST_F(EngineTest, NamesCompareUnderCanonicalEquivalence) {
  settleLibrary("Caf\u00e9");
  takeNotifications();
  checkReporting("Cafe\u0301");
  EXPECT_EQ(engine().currentLibraryName(), "Caf\u00e9");
  EXPECT_FALSE(engine().state().pendingLibraryName);
  EXPECT_EQ(takeNotifications(), 0);
  checkReporting("caf\u00e9");  // case still counts
  EXPECT_EQ(engine().currentLibraryName(), "caf\u00e9");
}

TEST_F(EngineTest, HostQuitClearsTheFourNamesWithOneNotification) {
  settleLibrary("A");
  checkReporting("B");  // B pending
  takeNotifications();
  const ExportState before = engine().state();
  for (const std::optional<std::string>& other :
       {std::optional<std::string>{}, std::optional<std::string>{"test.other.app"},
        std::optional<std::string>{"TEST.kettleledger.desktop2"},
        std::optional<std::string>{"test.kettleledger.desktop2 "}}) {
    engine().klDidQuit(other);
    engine().appDidActivate(other);
  }
  EXPECT_EQ(engine().state().pendingLibraryName, "B");
  EXPECT_EQ(takeNotifications(), 0);
  EXPECT_EQ(dispatcher.runningGlobalTasks(), 0u);

  engine().klDidQuit(std::string(ExportManager::klBundleID));
  const ExportState s = engine().state();
  EXPECT_FALSE(s.currentLibraryName || s.knownLibraryName || s.pendingLibraryName || s.confirmedLibraryName);
  EXPECT_EQ(s.lastKLActiveDate, before.lastKLActiveDate);
  EXPECT_EQ(s.idleTriggered, before.idleTriggered);
  EXPECT_EQ(takeNotifications(), 1);
  EXPECT_FALSE(engine().isSyncing());
  EXPECT_EQ(scripts.calls(kExportScript), 0u);
}

TEST_F(EngineTest, DeclinedNeverPublishedLibraryIsPrunedByTheNextCheck) {
  settleLibrary("Home");
  alerts.queueAnswer(1);
  engine().sync("manual");
  settle();
  EXPECT_EQ(engine().knownLibraries(), std::vector<std::string>{"Home"});
  takeNotifications();

  checkReporting("Home");
  EXPECT_TRUE(engine().knownLibraries().empty());
  EXPECT_TRUE(log.contains("[Helper] Pruned disabled library 'Home' (path unknown, JSON already deleted)"));
  EXPECT_EQ(takeNotifications(), 1);

  alerts.queueAnswer(1);
  engine().sync("manual");  // asked again
  EXPECT_EQ(alerts.count(), 2u);
}

TEST_F(EngineTest, APruningPassNotifiesOnceWhateverItPruned) {
  engine().pruneLibraries();
  EXPECT_EQ(takeNotifications(), 0);
  defaults.setBool("sync_library_A", false);
  defaults.setBool("sync_library_B", false);
  defaults.setBool("sync_library_C", true);
  engine().pruneLibraries();
  EXPECT_EQ(takeNotifications(), 1);
  EXPECT_EQ(engine().knownLibraries(), std::vector<std::string>{"C"});
}

// The idle rule, driven by checks every 10 seconds on the test thread.
class IdleRuleTest : public EngineTest {
 protected:
  void SetUp() override {
    settleLibrary("Biz");
    defaults.setBool("sync_library_Biz", true);
    scripts.setAnswer(kNameScript, "Biz");
    scripts.setAnswer(kExportScript, kExportJson);
  }

  void activate() {
    engine().appDidActivate(std::string(ExportManager::klBundleID));
    settle();  // the check it schedules
  }

  // Checks at `first`, first + 10, ... up to `last` seconds after now;
  // returns the seconds of each check that started an idle sync.
  std::vector<int> checksFrom(int first, int last) {
    const platform::Date start = clock.now();
    std::vector<int> synced;
    for (int at = first; at <= last; at += 10) {
      clock.set(start + std::chrono::seconds(at));
      const std::size_t before = scripts.calls(kExportScript);
      engine().periodicCheck();
      settle();
      if (scripts.calls(kExportScript) > before) synced.push_back(at);
    }
    return synced;
  }
};

TEST_F(IdleRuleTest, OneSyncAtTheFirstCheckAtOrAfterThreeMinutes) {
  activate();
  EXPECT_EQ(checksFrom(5, 600), std::vector<int>{185});
  EXPECT_EQ(log.count("Export OK (idle 3 min)"), 1u);

  activate();  // a new activation allows one more
  EXPECT_EQ(checksFrom(0, 400), std::vector<int>{180});
}

TEST_F(IdleRuleTest, ReasonCountsWholeMinutesSinceActivation) {
  activate();
  clock.advance(299);
  engine().periodicCheck();
  settle();
  EXPECT_TRUE(log.contains("Export OK (idle 4 min)"));
}

TEST_F(IdleRuleTest, NoIdleSyncWithAutoSyncOffWhileTrackingGoesOn) {
  engine().toggleAutoSync();
  activate();
  const std::size_t nameCalls = scripts.calls(kNameScript);
  EXPECT_TRUE(checksFrom(10, 600).empty());
  EXPECT_GT(scripts.calls(kNameScript), nameCalls);
  EXPECT_FALSE(engine().state().idleTriggered);
}

TEST_F(IdleRuleTest, ARecentExportPostponesTheIdleSync) {
  activate();
  clock.advance(100);
  engine().sync("manual");
  settle();
  EXPECT_EQ(checksFrom(10, 300), std::vector<int>{180});  // 280 s after activation
}

TEST_F(IdleRuleTest, AFailedOrDeclinedIdleSyncIsNotRetriedBeforeTheNextActivation) {
  scripts.setAnswer(kExportScript, "");
  activate();
  EXPECT_EQ(checksFrom(180, 600), std::vector<int>{180});
  EXPECT_EQ(log.count("Export failed (idle 3 min): klNotResponding"), 1u);
  EXPECT_TRUE(engine().state().idleTriggered);
}

TEST_F(IdleRuleTest, AfterLaunchTheFirstIdleSyncComesThreeMinutesAfterStart) {
  // No activation: the launch counts as one.
  EXPECT_EQ(checksFrom(10, 400), std::vector<int>{180});
}

}  // namespace
}  // namespace quillory::engine::test
