// The export run's outcome lines and state, one run for two quick requests,
// the publish decision at write time with the first-sync question, where the
// pair is written and the last sync date.

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

#include "EngineFixture.h"
#include "libraries/PublishedDocuments.h"
#include "platform/Files.h"
#include "platform/posix/JsonDefaults.h"
#include "publish/ContainerPaths.h"

namespace quillory::engine::test {
namespace {

namespace fs = std::filesystem;

// An enabled, settled library with a failed run behind it (lastError set).
class ExportRunTest : public EngineTest {
 public:
  void SetUp() override {
    openEnabled("Home");
    scripts.setAnswer(kExportScript, "");  // no export answer: klNotResponding
    syncNow();
    ASSERT_EQ(engine().lastError(), "Kettle Ledger did not respond");
    log.clear();
    takeNotifications();
  }
};

// The menu sees the run start (syncing, the old error gone) and end (the
// outcome and syncing off together), each later and on the main thread; a
// second request meanwhile leaves no trace.
TEST_F(ExportRunTest, TwoQuickRequestsStartOneRunAndTheMenuSeesItsStartAndOutcome) {
  std::promise<void> release;
  scripts.setHandler(kExportScript, [gate = release.get_future().share()] {
    gate.wait();
    return std::string(kExportJson);
  });
  std::vector<ExportState> seen;
  engine().setOnStatusChanged([&] {
    EXPECT_TRUE(dispatcher.isMainThread());
    seen.push_back(engine().state());
  });
  engine().sync("idle 3 min");
  engine().sync("manual");
  EXPECT_TRUE(log.lines().empty() && seen.empty());
  dispatcher.runMainUntilIdle();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].isSyncing && !seen[0].lastError);

  clock.set(clock.now() + std::chrono::seconds(7));
  release.set_value();
  settle();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_FALSE(seen[1].isSyncing || seen[1].lastError);
  EXPECT_EQ(seen[1].lastSyncDate, clock.now());
  EXPECT_TRUE(log.contains("Export OK (idle 3 min)"));
  EXPECT_EQ(scripts.calls(kExportScript), 2u);  // SetUp's run and this one: one run for two requests
}

// Library/Mobile Documents made by the helper itself (iCloud Drive never
// on): the run publishes, and its result line and the status line say that
// iCloud Drive seems off, also at the next run into the folder the first one
// made; once iCloud Drive's own folder is there, the run is a plain success.
TEST_F(EngineTest, ARunIntoAnICloudDriveFolderNobodyButTheHelperMadeSaysICloudDriveSeemsOff) {
  warnWhenICloudDriveOff = true;
  openEnabled("Biz");
  const fs::path mobileDocuments = home.path() / "Library/Mobile Documents";
  for (const bool iCloudDriveOn : {false, false, true}) {
    SCOPED_TRACE(iCloudDriveOn);
    if (iCloudDriveOn) {
      ASSERT_FALSE(platform::files::createFolders(mobileDocuments / "com~apple~CloudDocs"));
    }
    log.clear();
    syncNow();
    EXPECT_TRUE(platform::files::exists(publish::containerDocumentsFolder(home.path()) / "biz-eur.json"));
    const std::string warning =
        "iCloud Drive seems off on this Mac: turn it on in System Settings \u203A Apple Account \u203A "
        "iCloud, or the phone will not see this library";
    EXPECT_EQ(log.lines().back(), iCloudDriveOn ? "[Helper] \u2713 Export OK (manual) \u2192 1 destination(s)"
                                                : "[Helper] \u26A0 " + warning);
    EXPECT_EQ(engine().lastError(), iCloudDriveOn ? std::nullopt : std::optional(warning));
    // Finder's hidden files in the folder are not iCloud Drive's.
    ASSERT_FALSE(platform::files::atomicWrite(mobileDocuments / ".DS_Store", ""));
  }
}

TEST_F(EngineTest, ARunQueuedForAManagerThatIsGoneDoesNothing) {
  testing::ManualDispatcher queued(testing::ManualDispatcher::GlobalMode::queued);
  workspace.launch(kHost);
  auto doomed = ExportManager::create(
      Environment{defaults, queued, clock, log, workspace, alerts, scripts, home.path()});
  doomed->sync("manual");
  doomed.reset();
  EXPECT_EQ(queued.runGlobalTasks(), 2u);  // the run and the write-back of "autoSyncEnabled"
  EXPECT_EQ(scripts.totalCalls(), 0u);
}

// One sync of "Biz" (the fixture's export, folder Biz, euros) after the
// arrangement: the questions asked, what is published, the line that says
// why, and the answer stored for Biz afterwards (a stored answer is not asked
// again; an alert that ended without an answer: tests/e2e).
struct DecisionCase {
  const char* name;
  std::function<void(EngineTest&)> arrange;
  std::vector<std::string> asked;  // the questions' texts
  bool published;                  // biz-eur.json, naming "Biz"
  std::string line;
  bool bizAnswer;
  friend void PrintTo(const DecisionCase& c, std::ostream* os) { *os << c.name; }
};

class PublishDecisionTest : public EngineTest, public ::testing::WithParamInterface<DecisionCase> {};

TEST_P(PublishDecisionTest, PublishesOnlyWhatTheUserSaidYesToUnderItsOwnName) {
  const DecisionCase& c = GetParam();
  workspace.launch(kHost);
  c.arrange(*this);
  syncNow();

  std::vector<std::string> asked;
  // Questions of "Sync Now" may take the keyboard (those of an idle sync may
  // not: see RunEndTest and the shell's tests).
  for (const platform::Alert& alert : alerts.shown())
    asked.push_back(alert.message + (alert.causedByUser ? "" : "?!"));
  EXPECT_EQ(asked, c.asked);
  EXPECT_TRUE(log.contains(c.line)) << ::testing::PrintToString(log.lines());
  EXPECT_EQ(engine().lastOutcome(), c.published ? RunOutcome::published : RunOutcome::skipped);
  EXPECT_EQ(defaults.value("sync_library_Biz").asBool(), c.bizAnswer);
  const auto docs = publish::containerDocumentsFolder(home.path());
  EXPECT_EQ(platform::files::listFolder(docs).value_or(std::vector<std::string>{}).size(),
            c.published ? 2u : 0u);
  if (c.published) {
    EXPECT_EQ(libraries::readPublishedDocument(docs / "biz-eur.json")->libraryName, "Biz");
  }
}

// The arrangements.
// A new library shown but not settled: published under its own name.
void notYetSettled(EngineTest& t) {
  t.openEnabled("Old");
  t.defaults.setBool("sync_library_Biz", true);
  t.checkReporting("Biz");
  t.scripts.setAnswer(kNameScript, "Biz");
}
void switchDuringQuestion(EngineTest& t) {
  t.settleLibrary("Old");
  t.scripts.setAnswer(kNameScript, "Old");
  for (const int answer : {0, 1}) t.alerts.queueAnswer(answer);  // Old: "Sync", Biz: "Don't Sync"
  t.alerts.setWhileOpen([&t](const platform::Alert&) { t.scripts.setAnswer(kNameScript, "Biz"); });
}
void switchDuringExport(EngineTest& t) {
  t.openEnabled("Biz");
  t.scripts.setHandler(kExportScript, [&t] {
    t.scripts.setAnswer(kNameScript, "Other");
    return std::string(kExportJson);
  });
}
// The host quits while the question is open: the skip line names no library.
void quitDuringQuestion(EngineTest& t) {
  t.settleLibrary("Biz");
  t.alerts.queueAnswer(1);
  t.alerts.setWhileOpen([&t](const platform::Alert&) { t.engine().klDidQuit(kHost); });
}
// A value of another type is no answer; closing the alert otherwise is "Don't
// Sync".
void dismissedOverAString(EngineTest& t) {
  t.settleLibrary("Biz");
  t.defaults.setString("sync_library_Biz", "true");
  t.alerts.queueAnswer(-1);
}
const std::string kAskOld = "Sync \"Old\" with Quillory?", kAskBiz = "Sync \"Biz\" with Quillory?";

const DecisionCase kDecisions[] = {
    {"NotYetSettled", notYetSettled, {}, true, "Export OK (manual)", true},
    {"SwitchedDuringQuestion", switchDuringQuestion, {kAskOld, kAskBiz}, false, "Skipping 'Biz'", false},
    {"SwitchedDuringExport", switchDuringExport, {}, false, "'Other' during the export", true},
    {"QuitDuringQuestion", quitDuringQuestion, {kAskBiz}, false, "Skipping '?'", false},
    {"DismissedOverAString", dismissedOverAString, {kAskBiz}, false, "Skipping 'Biz'", false},
};
INSTANTIATE_TEST_SUITE_P(Orderings, PublishDecisionTest, ::testing::ValuesIn(kDecisions),
                         [](const auto& info) { return std::string(info.param.name); });

// After a failed run behind it, a run ends with one line and the error it
// leaves, notifies at its start and end, shows the alerts it says on the main
// thread, and leaves the dates alone.
struct RunEndCase {
  const char* name;
  std::function<void(EngineTest&)> arrange;
  std::string line, error;
  std::size_t alertsShown = 0;
  friend void PrintTo(const RunEndCase& c, std::ostream* os) { *os << c.name; }
};

class RunEndTest : public ExportRunTest, public ::testing::WithParamInterface<RunEndCase> {};

TEST_P(RunEndTest, LogsOneLineAndKeepsTheDates) {
  GetParam().arrange(*this);
  const ExportState before = engine().state();
  clock.advance(std::chrono::seconds(1));  // a date this run took would differ
  syncNow("idle 4 min");
  EXPECT_EQ(log.lines(), std::vector<std::string>{GetParam().line});
  const ExportState a = engine().state();
  EXPECT_EQ(std::tuple(a.lastError, a.isSyncing, a.lastSyncDate, a.lastExportDate),
            std::tuple(std::optional(GetParam().error), false, before.lastSyncDate, before.lastExportDate));
  EXPECT_EQ(takeNotifications(), 2);
  EXPECT_EQ(alerts.shown().size(), GetParam().alertsShown);
  for (const platform::Alert& alert : alerts.shown()) EXPECT_FALSE(alert.causedByUser);  // an idle sync's
}

const std::string kFailed = "[Helper] \u2717 Export failed (idle 4 min): ";
#if defined(__APPLE__)
const std::string kRefusedMessage =
    "Allow Quillory Helper to control Kettle Ledger in System Settings \u203A Privacy & Security \u203A "
    "Automation";
#else  // the launcher's own words, not a setting Linux does not have
const std::string kRefusedMessage = "The script launcher refused to run the script for Kettle Ledger: " +
                                    std::string(testing::FakeScriptRunner::kRefusal);
#endif
// The name script after the export is refused: the fix, not a changed library.
void refuseAfterTheExport(EngineTest& t) {
  t.scripts.setHandler(kExportScript, [&t] {
    t.scripts.setRefused(true);
    return std::string(kExportJson);
  });
}
// Another library's document under the same name.
void conflict(EngineTest& t) {
  t.scripts.setAnswer(kExportScript, kExportJson);
  t.home.writeFile(fs::path(publish::kContainerDocumentsRelative) / "home-eur.json",
                   R"({"libraryPath":")" + t.home.makeFolder("Other/Home").string() + R"(","items":[]})");
}
// An error of another kind uses its own description.
void exportThrows(EngineTest& t) {
  t.scripts.setHandler(kExportScript, []() -> std::string { throw std::runtime_error("pipe broke"); });
}

const RunEndCase kEnds[] = {
    {"refusedAfterTheExport", refuseAfterTheExport, kFailed + "klNotAuthorized", kRefusedMessage},
    // Quitting stops the run: not the host's failure.
    {"quitting", [](EngineTest& t) { t.engine().prepareToQuit(); },
     "[Helper] \u26A0 Export stopped (idle 4 min): Quillory Helper is quitting",
     "Sync stopped because Quillory Helper is quitting"},
    {"conflict", conflict, kFailed + "nameConflict", "Library name conflict \u2014 see Helper alert", 1},
    {"otherError", exportThrows, kFailed + "pipe broke", "pipe broke"},
};
INSTANTIATE_TEST_SUITE_P(Ends, RunEndTest, ::testing::ValuesIn(kEnds),
                         [](const auto& info) { return std::string(info.param.name); });

// The conflict alert waits for the user without the publish lock: a
// switch-off from the menu meanwhile is done before the alert is closed.
TEST_F(ExportRunTest, ASwitchOffFromTheMenuIsDoneWhileTheConflictAlertIsOpen) {
  conflict(*this);
  bool doneWhileOpen = false;
  alerts.setWhileOpen([&](const platform::Alert&) {
    engine().requestLibrarySync("Home", false);
    doneWhileOpen = engine().finishLibraryChanges(std::chrono::seconds(5)) &&
                    defaults.value("sync_library_Home").asBool() == false;
  });
  syncNow();
  EXPECT_TRUE(doneWhileOpen);
}

// The export reads its answer under the publish lock: a switch-off that
// starts right after the read waits for the files to be in place, then
// deletes them.
TEST_F(EngineTest, ASwitchOffRightAfterTheAnswerIsReadDeletesWhatIsPublished) {
  openEnabled("Biz");
  home.writeFile("Library/Containers/X/Data/Library/Preferences/test.quillory.mobile.plist", "");
  std::future<ExportManager::SwitchOff> switchOff;
  defaults.afterRead = [&](const std::string& key) {
    if (key != "sync_library_Biz" || dispatcher.isMainThread() || switchOff.valid()) return;
    switchOff = std::async(std::launch::async, [this] { return engine().switchOffLibrary("Biz"); });
    switchOff.wait_for(std::chrono::milliseconds(200));  // at once, unless the export holds the lock
  };
  syncNow();
  switchOff.wait();
  EXPECT_EQ(log.count("Export OK"), 1u);
  for (const fs::path& folder :
       {publish::containerDocumentsFolder(home.path()), home / "Library/Containers/X/Data/Documents"}) {
    EXPECT_EQ(platform::files::listFolder(folder).value_or(std::vector<std::string>{}),
              std::vector<std::string>{});
  }
}

// The menu's changes show at once and apply in the order made. At the end of
// the program every queued answer is stored at once, also those queued
// behind a switch-off that is still deleting (a signal ends the process
// soon after).
TEST_F(EngineTest, TheMenusChangesShowAtOnceAndAreStoredAtTheEnd) {
  defaults.setString("library_filename_Biz", "biz-eur.json");
  home.writeFile(fs::path(publish::kContainerDocumentsRelative) / "biz-eur.json", R"({"libraryName":"Biz"})");
  std::promise<void> release;
  std::atomic<bool> deleting = false;
  defaults.afterRead = [&, released = release.get_future().share()](const std::string& key) {
    if (key == "library_filename_Biz" && !deleting.exchange(true)) released.wait();
  };
  engine().requestLibrarySync("Biz", false);
  for (const bool enabled : {false, true}) engine().requestLibrarySync("Next", enabled);
  EXPECT_TRUE(engine().isLibraryEnabled("Next"));
  while (!deleting) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(engine().storeQueuedAnswers());
  EXPECT_EQ(defaults.value("sync_library_Next").asBool(), true);
  EXPECT_EQ(defaults.value("sync_library_Biz").asBool(), false);
  release.set_value();
  ASSERT_TRUE(engine().finishLibraryChanges(std::chrono::seconds(10)));
  EXPECT_FALSE(platform::files::exists(publish::containerDocumentsFolder(home.path()) / "biz-eur.json"));
}

// The conflict read is taken before the publish lock: a document another
// library put in place since is read again under it, and stays.
TEST_F(EngineTest, ADocumentPutInPlaceAfterTheConflictReadIsReadAgain) {
  openEnabled("Biz");
  const fs::path target = publish::containerDocumentsFolder(home.path()) / "biz-eur.json";
  const std::string other = R"({"libraryPath":")" + home.makeFolder("Other/Biz").string() + R"("})";
  defaults.afterRead = [&](const std::string& key) {
    if (key == "sync_library_Biz" && !dispatcher.isMainThread() && !fs::exists(target)) {
      ASSERT_FALSE(platform::files::atomicWrite(target, other));
    }
  };
  syncNow();
  EXPECT_EQ(platform::files::readFile(target), other);
  EXPECT_EQ(log.count("nameConflict"), 1u);
}

// The file store keeps whole seconds: the manager keeps what it gives back,
// and reads it at the next start. (Other writers' keys: tests/promises.)
TEST_F(EngineTest, TheFileStoreKeepsTheLastSyncDateInWholeSeconds) {
  platform::posix::JsonDefaults file(home / "settings.json", log, clock);
  const Environment onFile{file, dispatcher, clock, log, workspace, alerts, scripts, home.path()};
  ASSERT_TRUE(file.setBool("sync_library_Biz", true));
  workspace.launch(kHost);
  scripts.setAnswer(kNameScript, "Biz");
  clock.advance(std::chrono::milliseconds(5250));
  const auto first = ExportManager::create(onFile);
  first->sync("manual");
  settle();
  const platform::Date whole = std::chrono::floor<std::chrono::seconds>(clock.now());
  EXPECT_EQ(first->lastSyncDate(), whole);
  EXPECT_EQ(ExportManager::create(onFile)->lastSyncDate(), whole);
  settle();  // the managers' queued stores use `file`, which ends with this test
}

}  // namespace
}  // namespace quillory::engine::test
