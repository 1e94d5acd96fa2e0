// The name tracker as a plain value (sequences of reports in; names and
// "tell the menu" out), then the triggers: monitoring set-up, the check
// (pruning, the host test, the name script and its tracking, the idle sync),
// checks that do not pile up, the host's termination and activation, and the
// status line's date.

#include <atomic>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "EngineFixture.h"
#include "engine/LibraryNameTracker.h"
#include "platform/AutomationPermission.h"
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
  // Canonically equivalent names are the same library; case still counts.
  // With nothing pending, a time-out clears the settled name at once.
  const NameStep steps[] = {
      {'r', "Caf\u00e9", "Caf\u00e9", "Caf\u00e9", "", true},
      {'r', "Caf\u00e9", "Caf\u00e9", "", "Caf\u00e9", true},
      {'r', "Caf\u00e9", "Caf\u00e9", "", "Caf\u00e9", false},
      {'r', "Cafe\u0301", "Caf\u00e9", "", "Caf\u00e9", false},
      {'r', "caf\u00e9", "caf\u00e9", "caf\u00e9", "Caf\u00e9", true},
      {'r', "Caf\u00e9", "Caf\u00e9", "", "Caf\u00e9", true},
      {'r', "B", "B", "B", "Caf\u00e9", true},
      {'s', "", "", "B", "Caf\u00e9", true},
      {'s', "", "", "B", "Caf\u00e9", false},
      {'r', "B", "B", "", "B", true},
      {'r', "", "", "", "", true},
      {'r', "A", "A", "A", "", true},
  };
  LibraryNameTracker tracker;
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const NameStep& step = steps[i];
    SCOPED_TRACE("step " + std::to_string(i));
    const bool told = step.event == 'r' ? tracker.report(orNone(step.reported)) : tracker.hostNotRunning();
    const LibraryNames& n = tracker.names();
    EXPECT_EQ(std::tuple(n.current, n.pending, n.known, n.confirmed, told),
              std::tuple(orNone(step.current), orNone(step.pending), orNone(step.known), orNone(step.known),
                         step.tell));
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
  const std::size_t checks = dispatcher.globalCalls();
  for (const char* other : {"test.other.app", "TEST.kettleledger.desktop2", "test.kettleledger.desktop2 "}) {
    workspace.terminate(other);
    workspace.activate(other);
  }
  EXPECT_EQ(engine().state().pendingLibraryName, "B");
  EXPECT_EQ(takeNotifications(), 0);
  EXPECT_EQ(dispatcher.globalCalls(), checks);

  workspace.quit(kHost);
  const std::size_t scriptCalls = scripts.totalCalls();
  for (int check = 0; check < 2; ++check) engine().periodicCheck();
  EXPECT_EQ(takeNotifications(), 1);
  EXPECT_EQ(scripts.totalCalls(), scriptCalls);

  workspace.terminate(kHost);
  const ExportState s = engine().state();
  EXPECT_FALSE(s.currentLibraryName || s.knownLibraryName || s.pendingLibraryName || s.confirmedLibraryName);
  EXPECT_EQ(takeNotifications(), 1);
  workspace.activate(kHost);
  EXPECT_EQ(dispatcher.globalCalls(), checks + 1);
  settle();
  manager.reset();
  dispatcher.tickTimersFor(std::chrono::seconds(60));
  workspace.activate(kHost);
  EXPECT_EQ(dispatcher.globalCalls(), checks + 1);
}

// The idle rule in the check, driven by checks every 10 seconds on the test
// thread: once per activation (the launch counts) when the activation and the
// last successful export lie three minutes back; never while auto-sync is off
// or the host is not running (neither uses the activation up); on time when
// the wall clock is set back a day.
TEST_F(EngineTest, IdleSyncOncePerActivationAfterThreeMinutesPostponedByAnExport) {
  openEnabled("Biz");
  // Checks every 10 seconds for `seconds`; the seconds of each check that
  // started an idle sync (published or failed).
  const auto checksFor = [&](int seconds) {
    std::vector<int> synced;
    for (int at = 10; at <= seconds; at += 10) {
      clock.advance(std::chrono::seconds(10));
      const std::size_t before = log.count("(idle ");
      engine().periodicCheck();
      settle();
      if (log.count("(idle ") > before) synced.push_back(at);
    }
    return synced;
  };
  engine().toggleAutoSync();  // off
  EXPECT_TRUE(checksFor(300).empty());
  engine().toggleAutoSync();
  workspace.quit(kHost);
  EXPECT_TRUE(checksFor(300).empty());
  workspace.launch(kHost);
  clock.set(clock.now() - std::chrono::hours(24));
  EXPECT_EQ(checksFor(300), std::vector<int>{10});  // idle 10 min
  engine().appDidActivate(kHost);
  EXPECT_EQ(checksFor(600), std::vector<int>{180});  // idle 3 min
  engine().appDidActivate(kHost);
  clock.advance(std::chrono::seconds(100));
  syncNow();
  EXPECT_EQ(checksFor(600), std::vector<int>{180});  // idle 4 min
  for (const char* minutes : {"10", "3", "4"})
    EXPECT_EQ(log.count("OK (idle " + std::string(minutes) + " min)"), 1u);
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

// The permission to control the host, answered by the test's function.
struct AnsweredPermission final : platform::AutomationPermission {
  platform::AutomationConsent request(const std::string& bundleIdentifier) override {
    EXPECT_EQ(bundleIdentifier, kHost);
    ++asked;
    return answer();
  }
  std::function<platform::AutomationConsent()> answer;
  std::atomic<int> asked = 0;
};

// While the user is asked, no script runs and no sync starts (said once); the
// answer lets the scripts run without asking again. A refusal fails the sync
// with the message that says where to allow it; the next script asks again,
// as it does after a script refused although the permission was granted, a
// request that threw, and one that got no answer.
TEST_F(EngineTest, ScriptsRunOnlyOnceThePermissionToControlTheHostIsGranted) {
  AnsweredPermission permission;
  automation = &permission;
  workspace.launch(kHost);
  scripts.setAnswer(kNameScript, "Biz");
  permission.answer = [&] {
    engine().periodicCheck();
    syncNow();
    engine().periodicCheck();
    EXPECT_EQ(scripts.totalCalls(), 0u);
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.count("[Helper] \u23ED Not syncing until Quillory Helper may control Kettle Ledger"), 1u);
    EXPECT_EQ(engine().lastOutcome(), RunOutcome::skipped);
    return platform::AutomationConsent::granted;
  };
  engine().periodicCheck();
  scripts.setRefused(true);
  engine().periodicCheck();  // not asked again; the script is refused
  EXPECT_EQ(scripts.calls(kNameScript), 2u);

  permission.answer = [] { return platform::AutomationConsent::refused; };
  syncNow();
  EXPECT_EQ(engine().lastError(), std::string(publish::exportErrorMessage(ExportErrorCode::klNotAuthorized)));
  EXPECT_EQ(scripts.totalCalls(), 2u);
  scripts.setRefused(false);
  permission.answer = []() -> platform::AutomationConsent { throw std::runtime_error("no answer"); };
  EXPECT_THROW(engine().periodicCheck(), std::runtime_error);
  permission.answer = [] { return platform::AutomationConsent::undetermined; };
  engine().periodicCheck();
  permission.answer = [] { return platform::AutomationConsent::granted; };
  for (int check = 0; check < 2; ++check) engine().periodicCheck();  // asked before the first only
  EXPECT_EQ(permission.asked, 5);
}

}  // namespace
}  // namespace quillory::engine::test
