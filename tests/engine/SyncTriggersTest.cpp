// The triggers: monitoring set-up, the host test, name tracking, the host's
// termination and activation, pruning in the check, the idle rule, and the
// status line's date.

#include <algorithm>
#include <string>
#include <vector>

#include "EngineFixture.h"
#include "platform/Iso8601.h"

namespace quillory::engine::test {
namespace {

TEST_F(EngineTest, StartMonitoringRegistersObserversTimersAndOneCheck) {
  engine().startMonitoring();
  EXPECT_EQ(workspace.activationObserverCount(), 1u);
  EXPECT_EQ(workspace.terminationObserverCount(), 1u);
  EXPECT_EQ(dispatcher.timerIntervals(), (std::vector<double>{10.0, 60.0}));
  EXPECT_EQ(dispatcher.globalCalls(), std::vector{platform::QualityOfService::background});
  settle();

  // One minute: six check ticks, and one direct call of the status hook.
  EXPECT_EQ(dispatcher.tickTimersFor(60), 7u);
  EXPECT_EQ(notifications, 1);
  EXPECT_EQ(dispatcher.globalCalls().size(), 7u);
  settle();
  // An activation of the host: exactly one more check, in the background.
  workspace.activate(std::string(ExportManager::klBundleID));
  EXPECT_EQ(dispatcher.globalCalls().size(), 8u);
  EXPECT_EQ(dispatcher.globalCalls().back(), platform::QualityOfService::background);
  settle();

  // Observers and timers hold the manager weakly.
  manager.reset();
  dispatcher.tickTimersFor(60);
  workspace.activate(std::string(ExportManager::klBundleID));
  EXPECT_EQ(dispatcher.globalCalls().size(), 8u);
}

TEST_F(EngineTest, HostNotRunningClearsTheShownNameOnceAndRunsNoScript) {
  settleLibrary("A");
  EXPECT_EQ(scripts.lastTimeout(kNameScript), 5.0);
  takeNotifications();
  workspace.quit(ExportManager::klBundleID);
  const std::size_t scriptCalls = scripts.totalCalls();
  engine().periodicCheck();
  engine().periodicCheck();
  EXPECT_EQ(takeNotifications(), 1);
  EXPECT_EQ(scripts.totalCalls(), scriptCalls);
  const ExportState s = engine().state();
  EXPECT_FALSE(s.currentLibraryName);
  EXPECT_EQ(s.knownLibraryName, "A");
  EXPECT_EQ(s.confirmedLibraryName, "A");
}

TEST_F(EngineTest, ARefusedAuthorizationIsLoggedOnceUntilACheckIsAllowedAgain) {
  const std::string line =
      "[Helper] \u26A0 Not allowed to control Kettle Ledger \u2014 System Settings \u203A Privacy & Security "
      "\u203A Automation";
  workspace.launch(ExportManager::klBundleID);
  scripts.setRefused(true);
  for (int check = 0; check < 3; ++check) engine().periodicCheck();
  scripts.setRefused(false);
  checkReporting("A");
  scripts.setRefused(true);
  engine().periodicCheck();
  settle();
  const std::vector<std::string> lines = log.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 2) << ::testing::PrintToString(lines);
}

// Name tracking: each step is one check reporting a name ("" as after a
// time-out), then the names it leaves ("" for none) and its notifications.
struct Step {
  std::string reported, current, pending, known;
  int notifications;
};
struct TrackingCase {
  const char* name;
  std::vector<Step> steps;
  friend void PrintTo(const TrackingCase& c, std::ostream* os) { *os << c.name; }
};

class NameTrackingTest : public EngineTest, public ::testing::WithParamInterface<TrackingCase> {};

TEST_P(NameTrackingTest, FollowsTheReportedNames) {
  workspace.launch(ExportManager::klBundleID);
  auto orNone = [](const std::string& s) { return s.empty() ? std::nullopt : std::optional(s); };
  for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
    const Step& step = GetParam().steps[i];
    SCOPED_TRACE("step " + std::to_string(i) + ": " + step.reported);
    checkReporting(step.reported);
    const ExportState s = engine().state();
    EXPECT_EQ(s.currentLibraryName, orNone(step.current));
    EXPECT_EQ(s.pendingLibraryName, orNone(step.pending));
    EXPECT_EQ(s.knownLibraryName, orNone(step.known));
    EXPECT_EQ(s.confirmedLibraryName, orNone(step.known));
    EXPECT_EQ(takeNotifications(), step.notifications);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, NameTrackingTest,
    ::testing::Values(TrackingCase{"NewNamePendingThenSettled",
                                   {{"A", "A", "A", "", 1}, {"A", "A", "", "A", 1}, {"A", "A", "", "A", 0}}},
                      TrackingCase{"SwitchingToBAndBackToA",
                                   {{"A", "A", "A", "", 1},
                                    {"A", "A", "", "A", 1},
                                    {"B", "B", "B", "A", 1},
                                    {"A", "A", "", "A", 1}}},
                      TrackingCase{"TimeOutWhileAIsKnown",
                                   {{"A", "A", "A", "", 1},
                                    {"A", "A", "", "A", 1},
                                    {"", "", "", "", 1},
                                    {"A", "A", "A", "", 1},
                                    {"A", "A", "", "A", 1}}},
                      // Canonically equivalent names are the same library; case still counts.
                      TrackingCase{"CanonicalEquivalence",
                                   {{"Caf\u00e9", "Caf\u00e9", "Caf\u00e9", "", 1},
                                    {"Caf\u00e9", "Caf\u00e9", "", "Caf\u00e9", 1},
                                    {"Cafe\u0301", "Caf\u00e9", "", "Caf\u00e9", 0},
                                    {"caf\u00e9", "caf\u00e9", "caf\u00e9", "Caf\u00e9", 1}}}),
    [](const auto& info) { return info.param.name; });

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
  EXPECT_EQ(takeNotifications(), 1);
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
  EXPECT_TRUE(
      log.contains("[Helper] Pruned disabled library 'Home' (path "
                   "unknown, JSON already deleted)"));
  EXPECT_EQ(takeNotifications(), 1);

  alerts.queueAnswer(1);
  engine().sync("manual");  // asked again
  EXPECT_EQ(alerts.count(), 2u);
}

TEST_F(EngineTest, EveryCheckPrunesFirstWhetherTheHostRunsOrNot) {
  for (const bool running : {false, true}) {
    if (running) workspace.launch(ExportManager::klBundleID);
    defaults.setBool("sync_library_Old", false);  // no folder known: pruned at once
    bool prunedBeforeTheScript = false;
    scripts.setHandler(kNameScript, [&] {
      prunedBeforeTheScript = engine().knownLibraries().empty();
      return std::string("A");
    });
    engine().periodicCheck();
    EXPECT_TRUE(engine().knownLibraries().empty());
    EXPECT_EQ(prunedBeforeTheScript, running);
  }
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
 public:
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

TEST_F(IdleRuleTest, OneSyncAtTheFirstCheckAtOrAfterThreeMinutesThenNoneUntilTheNextActivation) {
  activate();
  EXPECT_EQ(checksFrom(5, 600), std::vector<int>{185});
  EXPECT_EQ(log.count("Export OK (idle 3 min)"), 1u);
  engine().klDidQuit(std::string(ExportManager::klBundleID));  // a quit does not re-arm the rule
  EXPECT_TRUE(checksFrom(10, 400).empty());
  activate();
  EXPECT_EQ(checksFrom(299, 400), std::vector<int>{299});
  EXPECT_TRUE(log.contains("Export OK (idle 4 min)"));  // whole minutes since the activation
}

struct IdleCase {
  const char* name;
  bool activate, autoSync, exportFails;
  int manualSyncAfter;  // seconds after the activation; 0: none
  int first, last;
  std::vector<int> synced;
  friend void PrintTo(const IdleCase& c, std::ostream* os) { *os << c.name; }
};

class IdleCasesTest : public IdleRuleTest, public ::testing::WithParamInterface<IdleCase> {};

TEST_P(IdleCasesTest, SyncsAtTheExpectedChecks) {
  const IdleCase& c = GetParam();
  if (!c.autoSync) engine().toggleAutoSync();
  if (c.exportFails) scripts.setAnswer(kExportScript, "");
  if (c.activate) activate();
  if (c.manualSyncAfter > 0) {
    clock.advance(c.manualSyncAfter);
    engine().sync("manual");
    settle();
  }
  EXPECT_EQ(checksFrom(c.first, c.last), c.synced);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IdleCasesTest,
    ::testing::Values(IdleCase{"AutoSyncOff", true, false, false, 0, 10, 600, {}},
                      // 280 s after the activation
                      IdleCase{"RecentExportPostpones", true, true, false, 100, 10, 300, {180}},
                      IdleCase{"FailedIsNotRetried", true, true, true, 0, 180, 600, {180}},
                      IdleCase{"LaunchCountsAsActivation", false, true, false, 0, 10, 400, {180}}),
    [](const auto& info) { return info.param.name; });

// The status line's date: the current library's marker, named by its record;
// records that would lead out of the container folder count as missing.
TEST_F(EngineTest, CurrentLibrarySyncDateReadsTheMarkerTheRecordNames) {
  const std::string docs = "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents/";
  const std::string stamp = "2026-12-05T11:32:21Z";
  const struct {
    const char* name;
    std::optional<std::string> record;  // library_filename_Biz
    std::string markerPath;             // below the home folder
    bool found;
  } cases[] = {
      {"noRecord", std::nullopt, docs + "biz-eur_updated.txt", false},
      {"plain", "biz-eur.json", docs + "biz-eur_updated.txt", true},
      {"parentInRecord", "../outside.json", docs + "../outside_updated.txt", false},
      {"subfolderInRecord", "sub/biz.json", docs + "sub/biz_updated.txt", false},
  };
  settleLibrary("Biz");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.record) {
      defaults.setString("library_filename_Biz", *c.record);
    } else {
      defaults.remove("library_filename_Biz");
    }
    const auto marker = home.writeFile(c.markerPath, stamp);
    EXPECT_EQ(engine().currentLibrarySyncDate(), c.found ? platform::parseIso8601(stamp) : std::nullopt);
    std::filesystem::remove(marker);
  }
}

}  // namespace
}  // namespace quillory::engine::test
