// The name tracker and the idle rule as plain values (sequences of events
// in; names, reasons and "tell the menu" out), then the triggers that drive
// them: monitoring set-up, the check (pruning, the host test, the name script
// and its tracking, the idle sync), the host's termination and activation,
// and the status line's date.

#include <future>
#include <string>
#include <tuple>
#include <vector>

#include "EngineFixture.h"
#include "engine/IdleRule.h"
#include "engine/LibraryNameTracker.h"
#include "publish/ContainerPaths.h"

namespace quillory::engine::test {
namespace {

std::optional<std::string> orNone(const std::string& s) {
  return s.empty() ? std::nullopt : std::optional(s);
}

// 'r': a check reports `reported` ("" for no usable name); 's': the host is not
// running (its quit is the manager test's below). Then the names left ("" for
// none; confirmed is always known) and whether the menu is told.
struct NameStep {
  char event;
  std::string reported, current, pending, known;
  bool tell;
};

TEST(LibraryNameTracker, FollowsTheReportedNames) {
  const struct {
    const char* name;
    std::vector<NameStep> steps;
  } cases[] = {
      // Canonically equivalent names are the same library; case still counts.
      {"SettlesOnTheSecondSighting",
       {{'r', "Caf\u00e9", "Caf\u00e9", "Caf\u00e9", "", true},
        {'r', "Caf\u00e9", "Caf\u00e9", "", "Caf\u00e9", true},
        {'r', "Caf\u00e9", "Caf\u00e9", "", "Caf\u00e9", false},
        {'r', "Cafe\u0301", "Caf\u00e9", "", "Caf\u00e9", false},
        {'r', "caf\u00e9", "caf\u00e9", "caf\u00e9", "Caf\u00e9", true}}},
      {"SwitchBackAndStop",
       {{'r', "A", "A", "A", "", true},
        {'r', "A", "A", "", "A", true},
        {'r', "B", "B", "B", "A", true},
        {'r', "A", "A", "", "A", true},
        {'r', "B", "B", "B", "A", true},
        {'s', "", "", "B", "A", true},
        {'s', "", "", "B", "A", false},
        {'r', "A", "A", "", "A", true}}},
      // With nothing pending, a time-out clears the settled name at once.
      {"TimeOutWhileAIsKnown",
       {{'r', "A", "A", "A", "", true},
        {'r', "A", "A", "", "A", true},
        {'r', "", "", "", "", true},
        {'r', "A", "A", "A", "", true}}},
  };
  for (const auto& c : cases) {
    LibraryNameTracker tracker;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const NameStep& step = c.steps[i];
      SCOPED_TRACE(std::string(c.name) + " step " + std::to_string(i));
      const bool told = step.event == 'r' ? tracker.report(orNone(step.reported)) : tracker.hostNotRunning();
      const LibraryNames& n = tracker.names();
      EXPECT_EQ(std::tuple(n.current, n.pending, n.known, n.confirmed, told),
                std::tuple(orNone(step.current), orNone(step.pending), orNone(step.known), orNone(step.known),
                           step.tell));
    }
  }
}

// Seconds after the launch: 'a' the host is activated, 'e' an export
// succeeds, 'c' a check with auto-sync on, 'o' one with it off; then the
// reason the check gives ("" for none).
struct IdleStep {
  char event;
  int at;
  std::string reason;
};

TEST(IdleRule, SyncsOncePerActivationWhenHostAndExportAreThreeMinutesBack) {
  const struct {
    const char* name;
    std::vector<IdleStep> steps;
  } cases[] = {
      {"OnceFromThreeMinutes", {{'c', 179, ""}, {'c', 180, "idle 3 min"}, {'c', 600, ""}}},
      {"ActivationRearms",
       {{'c', 185, "idle 3 min"}, {'a', 200, ""}, {'c', 379, ""}, {'c', 499, "idle 4 min"}}},
      {"RecentExportPostpones", {{'e', 100, ""}, {'c', 279, ""}, {'c', 280, "idle 4 min"}}},
      {"AutoSyncOffLeavesTheActivationUnused", {{'o', 600, ""}, {'c', 610, "idle 10 min"}}},
      {"ClockBeforeTheActivation", {{'a', 400, ""}, {'c', 300, ""}, {'c', 580, "idle 3 min"}}},
  };
  const platform::Date launch = std::chrono::sys_days{std::chrono::year{2026} / 12 / 5};
  for (const auto& c : cases) {
    IdleRule rule(launch);
    for (const IdleStep& step : c.steps) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(step.at));
      const platform::Date at = launch + std::chrono::seconds(step.at);
      if (step.event == 'a') rule.hostActivated(at);
      if (step.event == 'e') rule.exported(at);
      if (step.event == 'c' || step.event == 'o') {
        EXPECT_EQ(rule.take(at, step.event == 'c'), orNone(step.reason));
      }
    }
  }
}

// Only the host's exact bundle identifier counts: its activation schedules a
// check, its termination clears the four names with one notification. While
// the host is not running, checks run no script and clear the shown name with
// one notification. Observers and timers hold the manager weakly.
TEST_F(EngineTest, HostActivationChecksAndHostStopAndQuitClearTheNames) {
  engine().startMonitoring();  // a first check, the host not running yet
  settleLibrary("A");
  checkReporting("B");  // B pending
  takeNotifications();
  const std::size_t checks = dispatcher.globalCalls().size();
  for (const char* other : {"test.other.app", "TEST.kettleledger.desktop2", "test.kettleledger.desktop2 "}) {
    workspace.terminate(other);
    workspace.activate(other);
  }
  EXPECT_EQ(engine().state().pendingLibraryName, "B");
  EXPECT_EQ(takeNotifications(), 0);
  EXPECT_EQ(dispatcher.globalCalls().size(), checks);

  workspace.quit(kHost);
  const std::size_t scriptCalls = scripts.totalCalls();
  engine().periodicCheck();
  engine().periodicCheck();
  EXPECT_EQ(takeNotifications(), 1);
  EXPECT_EQ(scripts.totalCalls(), scriptCalls);

  workspace.terminate(kHost);
  const ExportState s = engine().state();
  EXPECT_FALSE(s.currentLibraryName || s.knownLibraryName || s.pendingLibraryName || s.confirmedLibraryName);
  EXPECT_EQ(takeNotifications(), 1);
  workspace.activate(kHost);
  EXPECT_EQ(dispatcher.globalCalls().size(), checks + 1);
  settle();
  manager.reset();
  dispatcher.tickTimersFor(std::chrono::seconds(60));
  workspace.activate(kHost);
  EXPECT_EQ(dispatcher.globalCalls().size(), checks + 1);
}

// The idle rule in the check, driven by checks every 10 seconds on the test
// thread: the manager activates it, feeds it successful exports only, and
// syncs with its reason.
TEST_F(EngineTest, IdleSyncOncePerActivationAfterThreeMinutesPostponedByAnExport) {
  openEnabled("Biz");
  scripts.setAnswer(kExportScript, kExportJson);
  // Checks at `first`, first + 10, ... up to `last` seconds after now; the
  // seconds of each check that started an idle sync.
  const auto checksFrom = [&](int first, int last) {
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
  };
  engine().toggleAutoSync();  // off
  EXPECT_TRUE(checksFrom(180, 300).empty());
  engine().toggleAutoSync();
  engine().appDidActivate(kHost);
  settle();  // the check it schedules
  clock.set(clock.now() + std::chrono::seconds(100));
  engine().sync("manual");
  settle();
  EXPECT_EQ(checksFrom(10, 600), std::vector<int>{180});
  EXPECT_EQ(log.count("Export OK (idle 4 min)"), 1u);  // 280 s after the activation
}

// A host that appears many times while a check waits for its slow name
// script: one check at a time, and one more after it for all those triggers.
TEST_F(EngineTest, TriggersDuringACheckStartOneMoreAfterIt) {
  workspace.launch(kHost);
  std::promise<void> release;
  scripts.setHandler(kNameScript, [gate = release.get_future().share()] {
    gate.wait();
    return std::string("Biz");
  });
  engine().startMonitoring();  // the first check
  for (int i = 0; i < 20; ++i) workspace.activate(kHost);
  release.set_value();
  settle();
  EXPECT_EQ(scripts.maxInFlight(kNameScript), 1u);
  EXPECT_EQ(scripts.calls(kNameScript), 2u);
}

// The status line's date is read from the marker the library's record names,
// never from outside the container folder, and only from a marker of a few
// bytes: a longer one is never read whole.
TEST_F(EngineTest, CurrentLibrarySyncDateReadsOnlyAShortMarkerInsideTheContainerFolder) {
  const std::string docs = std::string(publish::kContainerDocumentsRelative) + "/";
  const std::string date = "2026-12-05T11:32:21Z";
  settleLibrary("Biz");
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"biz-eur", date + "\n", true},
      {"biz-eur", date + std::string(100, ' '), false},
      {"../outside", date, false},
      {"sub/biz", date, false},
  };
  for (const auto& [record, bytes, valid] : cases) {
    SCOPED_TRACE(record);
    defaults.setString("library_filename_Biz", record + ".json");
    const auto marker = home.writeFile(docs + record + "_updated.txt", bytes);
    EXPECT_EQ(engine().currentLibrarySyncDate().has_value(), valid);
    std::filesystem::remove(marker);
  }
}

}  // namespace
}  // namespace quillory::engine::test
