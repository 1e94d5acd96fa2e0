// The first-sync question and its stored answer, the export run's outcome
// lines and state, one run for two quick requests, and the publish decision
// at write time.

#include <future>
#include <stdexcept>

#include "EngineFixture.h"
#include "libraries/PublishedDocuments.h"
#include "platform/Files.h"
#include "publish/ContainerPaths.h"

namespace quillory::engine::test {
namespace {

// The answer is stored under the name unchanged (a value of another type
// does not count) and announced once; an alert abandoned because the program
// ends stores nothing. (A stored answer is not asked again: the decision
// table below.)
TEST_F(EngineTest, TheFirstSyncQuestionIsAskedOnceAndItsAnswerStored) {
  const struct {
    const char* name;
    int button;  // -1: the alert ended otherwise
    bool overAString;
    std::optional<bool> stored;
  } cases[] = {
      {"Sync", 0, false, true},
      {"Dismissed", -1, false, false},
      {"Over a string", 1, true, false},
      {"Abandoned", platform::kAlertAbandoned, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = "Caf\u00e9 \"" + std::string(c.name) + "\"";
    const std::string key = "sync_library_" + name;
    if (c.overAString) defaults.setString(key, "true");
    alerts.queueAnswer(c.button);
    EXPECT_EQ(engine().confirmSync(name), c.stored.value_or(false));
    EXPECT_EQ(defaults.value(key).asBool(), c.stored);
    EXPECT_EQ(takeNotifications(), c.stored ? 1 : 0);
  }
  const platform::Alert shown = alerts.shown().front();
  EXPECT_EQ(shown.message, "Sync \"Caf\u00e9 \"Sync\"\" with Quillory?");
  EXPECT_EQ(shown.informativeText,
            "Quillory Helper will sync this library to your iPhone and iPad automatically. You can change "
            "this later in the Helper menu under Libraries.");
  EXPECT_EQ(shown.buttons, (std::vector<std::string>{"Sync", "Don't Sync"}));
}

// An enabled, settled library with a failed run behind it (lastError set).
class ExportRunTest : public EngineTest {
 public:
  void SetUp() override {
    openEnabled("Home");
    engine().sync("manual");  // no export answer: klNotResponding
    settle();
    ASSERT_EQ(engine().lastError(), "Kettle Ledger did not respond");
    log.clear();
    takeNotifications();
  }
};

// The menu sees the run start (syncing, the old error gone) and end (the
// outcome and syncing off together); a second request meanwhile leaves no
// trace.
TEST_F(ExportRunTest, TwoQuickRequestsStartOneRunAndTheMenuSeesItsStartAndOutcome) {
  std::promise<void> release;
  scripts.setHandler(kExportScript, [gate = release.get_future().share()] {
    gate.wait();
    return std::string(kExportJson);
  });
  std::vector<ExportState> seen;
  engine().setOnStatusChanged([&] { seen.push_back(engine().state()); });
  engine().sync("idle 3 min");
  engine().sync("manual");
  EXPECT_EQ(log.size(), 0u);
  dispatcher.runMainUntilIdle();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].isSyncing);
  EXPECT_FALSE(seen[0].lastError);

  clock.advance(std::chrono::seconds(7));
  release.set_value();
  settle();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_FALSE(seen[1].isSyncing || seen[1].lastError);
  EXPECT_EQ(seen[1].lastSyncDate, clock.now());
  EXPECT_TRUE(log.contains("Export OK (idle 3 min)"));
  EXPECT_EQ(scripts.calls(kExportScript), 2u);  // SetUp's run and this one: one run for two requests
  EXPECT_EQ(engine().currentLibrarySyncDate(), std::chrono::floor<std::chrono::seconds>(clock.now()));
}

TEST_F(EngineTest, ARunQueuedForAManagerThatIsGoneDoesNothing) {
  testing::ManualDispatcher queued(testing::ManualDispatcher::GlobalMode::queued);
  workspace.launch(kHost);
  auto doomed = ExportManager::create(
      Environment{defaults, queued, clock, log, workspace, alerts, scripts, home.path()});
  doomed->sync("manual");
  doomed.reset();
  EXPECT_EQ(queued.runGlobalTasks(), 1u);
  EXPECT_EQ(scripts.totalCalls(), 0u);
  EXPECT_EQ(log.size(), 0u);
}

// One sync of "Biz" (the fixture's export, folder Biz, euros) after the
// arrangement: the questions asked, what is published, the line that says
// why, and the answer stored for Biz afterwards.
struct DecisionCase {
  const char* name;
  std::function<void(EngineTest&)> arrange;
  std::vector<std::string> asked;
  bool published;  // biz-eur.json, naming "Biz"
  std::string line;
  std::optional<bool> bizAnswer;
  friend void PrintTo(const DecisionCase& c, std::ostream* os) { *os << c.name; }
};

class PublishDecisionTest : public EngineTest, public ::testing::WithParamInterface<DecisionCase> {};

TEST_P(PublishDecisionTest, PublishesOnlyWhatTheUserSaidYesToUnderItsOwnName) {
  const DecisionCase& c = GetParam();
  workspace.launch(kHost);
  scripts.setAnswer(kExportScript, kExportJson);
  c.arrange(*this);
  engine().sync("manual");
  settle();

  std::vector<std::string> asked;
  for (const platform::Alert& alert : alerts.shown()) asked.push_back(alert.message);
  std::vector<std::string> expected;
  for (const std::string& name : c.asked) expected.push_back("Sync \"" + name + "\" with Quillory?");
  EXPECT_EQ(asked, expected);
  EXPECT_TRUE(log.contains(c.line)) << ::testing::PrintToString(log.lines());
  EXPECT_EQ(engine().lastOutcome(), c.published ? RunOutcome::published : RunOutcome::skipped);
  EXPECT_EQ(defaults.value("sync_library_Biz").asBool(), c.bizAnswer);
  const auto docs = publish::containerDocumentsFolder(home.path());
  const auto listed = platform::files::listFolder(docs).value_or(std::vector<std::string>{});
  EXPECT_EQ(listed.size(), c.published ? 2u : 0u);
  if (c.published) {
    EXPECT_EQ(libraries::readPublishedDocument(docs / "biz-eur.json")->libraryName, "Biz");
  }
  EXPECT_EQ(defaults.value("library_filename_Old"), platform::DefaultsValue());
}

// The arrangements.
void offDuringExport(EngineTest& t) {
  t.openEnabled("Biz");
  t.scripts.setHandler(kExportScript, [&t] {
    t.engine().switchOffLibrary("Biz");
    return std::string(kExportJson);
  });
}
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
  t.alerts.queueAnswer(0);  // Old: "Sync"
  t.alerts.queueAnswer(1);  // Biz: "Don't Sync"
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

INSTANTIATE_TEST_SUITE_P(
    Orderings, PublishDecisionTest,
    ::testing::Values(
        DecisionCase{"OffDuringExport", offDuringExport, {}, false, "Skipping 'Biz'", false},
        DecisionCase{"NotYetSettled", notYetSettled, {}, true, "Export OK (manual)", true},
        DecisionCase{
            "SwitchedDuringQuestion", switchDuringQuestion, {"Old", "Biz"}, false, "Skipping 'Biz'", false},
        DecisionCase{
            "SwitchedDuringExport", switchDuringExport, {}, false, "'Other' during the export", true},
        DecisionCase{"QuitDuringQuestion", quitDuringQuestion, {"Biz"}, false, "Skipping '?'", false}),
    [](const auto& info) { return info.param.name; });

// After a failed run behind it, a run ends with one line and the error it
// leaves, notifies as often as it says, and leaves the dates alone.
struct RunEndCase {
  const char* name;
  std::function<void(EngineTest&)> arrange;
  std::string line, error;
  int notifications;
  friend void PrintTo(const RunEndCase& c, std::ostream* os) { *os << c.name; }
};

class RunEndTest : public ExportRunTest, public ::testing::WithParamInterface<RunEndCase> {};

TEST_P(RunEndTest, LogsOneLineAndKeepsTheDates) {
  GetParam().arrange(*this);
  const ExportState before = engine().state();
  engine().sync("idle 4 min");
  settle();
  EXPECT_EQ(log.lines(), std::vector<std::string>{GetParam().line});
  const ExportState after = engine().state();
  EXPECT_EQ(after.lastError, GetParam().error);
  EXPECT_FALSE(after.isSyncing);
  EXPECT_EQ(after.lastSyncDate, before.lastSyncDate);
  EXPECT_EQ(after.lastExportDate, before.lastExportDate);
  EXPECT_EQ(takeNotifications(), GetParam().notifications);
  EXPECT_EQ(alerts.count(), 0u);
}

const std::string kFailed = "[Helper] \u2717 Export failed (idle 4 min): ";
void exportEmpty(EngineTest& t) { t.scripts.setAnswer(kExportScript, R"({"items":[]})"); }
// The name script after the export is refused: the fix, not a changed library.
void refuseAfterTheExport(EngineTest& t) {
  t.scripts.setHandler(kExportScript, [&t] {
    t.scripts.setRefused(true);
    return std::string(kExportJson);
  });
}
// An error of another kind uses its own description.
void exportThrows(EngineTest& t) {
  t.scripts.setHandler(kExportScript, []() -> std::string { throw std::runtime_error("pipe broke"); });
}
void declined(EngineTest& t) { t.defaults.setBool("sync_library_Home", false); }

INSTANTIATE_TEST_SUITE_P(
    Ends, RunEndTest,
    ::testing::Values(RunEndCase{"empty", exportEmpty, kFailed + "emptyLibrary", "Library is empty", 2},
                      RunEndCase{"refusedAfterTheExport", refuseAfterTheExport, kFailed + "klNotAuthorized",
                                 "Allow Quillory Helper to control Kettle Ledger in System Settings \u203A "
                                 "Privacy & Security \u203A Automation",
                                 2},
                      RunEndCase{"otherError", exportThrows, kFailed + "pipe broke", "pipe broke", 2},
                      // Skipped: no question, no export, the old error stays, no notification.
                      RunEndCase{"declined", declined,
                                 "[Helper] \u23ED Skipping 'Home' \u2014 sync disabled by user",
                                 "Kettle Ledger did not respond", 0}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quillory::engine::test
