// The opt-in registry, the first-sync question and its stored answer, the
// export run's outcome lines and state, and one run for two quick requests.

#include <future>
#include <stdexcept>

#include "EngineFixture.h"
#include "libraries/ContainerPaths.h"
#include "libraries/PublishedDocuments.h"
#include "platform/Files.h"

namespace quillory::engine::test {
namespace {

constexpr const char* kSkipHome = "[Helper] \u23ED Skipping 'Home' \u2014 sync disabled by user";

TEST_F(EngineTest, RegistryStatesAndOrder) {
  defaults.setBool("sync_library_b", true);
  defaults.setBool("sync_library_A", false);
  defaults.setString("sync_library_a", "yes");  // another type: listed, not enabled
  EXPECT_EQ(engine().knownLibraries(), (std::vector<std::string>{"A", "a", "b"}));
  EXPECT_TRUE(engine().isLibraryEnabled("b"));
  EXPECT_FALSE(engine().isLibraryEnabled("A") || engine().isLibraryEnabled("a"));
}

TEST_F(EngineTest, FirstSyncAlertTexts) {
  const std::string name = "Caf\u00e9 \"Main\" 'books'";
  alerts.queueAnswer(0);
  EXPECT_TRUE(engine().confirmSync(name));
  ASSERT_EQ(alerts.count(), 1u);
  const platform::Alert shown = alerts.shown().front();
  EXPECT_EQ(shown.message, "Sync \"" + name + "\" with Quillory?");
  EXPECT_EQ(shown.informativeText,
            "Quillory Helper will sync this library to your iPhone and iPad "
            "automatically. You can change "
            "this later in the Helper menu under Libraries.");
  EXPECT_EQ(shown.style, platform::AlertStyle::informational);
  EXPECT_EQ(shown.buttons, (std::vector<std::string>{"Sync", "Don't Sync"}));
  EXPECT_EQ(defaults.value("sync_library_" + name).asBool(),
            true);  // the key is the name unchanged
}

struct AnswerCase {
  const char* name;
  int button;         // -1: the alert ended otherwise
  bool storedString;  // a value of another type is there: asked all the same
  bool expected;
  friend void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }
};

class ConfirmSyncAnswerTest : public EngineTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(ConfirmSyncAnswerTest, StoresTheAnswerAndNotifiesOnce) {
  if (GetParam().storedString) defaults.setString("sync_library_Home", "true");
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
                         ::testing::Values(AnswerCase{"Sync", 0, false, true},
                                           AnswerCase{"DontSync", 1, false, false},
                                           AnswerCase{"Dismissed", -1, false, false},
                                           AnswerCase{"OverAString", 1, true, false}),
                         [](const auto& info) { return info.param.name; });

TEST_F(EngineTest, AQuestionAbandonedBecauseTheProgramEndsStoresNoAnswer) {
  alerts.queueAnswer(platform::kAlertAbandoned);
  EXPECT_FALSE(engine().confirmSync("Home"));
  EXPECT_EQ(defaults.value("sync_library_Home").asBool(), std::nullopt);
  EXPECT_TRUE(engine().knownLibraries().empty());
}

TEST_F(EngineTest, NoLibraryAndNoHostRunsWithoutAQuestionAndFails) {
  engine().sync("manual");
  settle();
  EXPECT_EQ(alerts.count(), 0u);
  EXPECT_EQ(scripts.totalCalls(), 0u);
  EXPECT_EQ(log.lines(), std::vector<std::string>{"[Helper] \u2717 Export failed (manual): klNotResponding"});
  EXPECT_EQ(engine().lastError(), "Kettle Ledger did not respond");
  EXPECT_FALSE(engine().isSyncing() || engine().lastSyncDate());
  EXPECT_EQ(engine().state().lastExportDate, kDistantPast);
  EXPECT_EQ(takeNotifications(), 2);
}

TEST_F(EngineTest, SuccessRecordsTheOutcomeAndTheMenuSeesItWithSyncingOff) {
  settleLibrary("Biz");
  defaults.setBool("sync_library_Biz", true);
  std::promise<void> release;
  scripts.setHandler(kExportScript, [gate = release.get_future().share()] {
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
  EXPECT_FALSE(seen[1].isSyncing || seen[1].lastError);
  EXPECT_EQ(seen[1].lastSyncDate, clock.now());
  EXPECT_EQ(seen[1].lastExportDate, clock.now());
  EXPECT_EQ(defaults.value(kLastSyncDateKey).asDate(), clock.now());
  EXPECT_TRUE(log.contains("[Helper] \u2713 Export OK (idle 3 min) \u2192 1 destination(s)"));
  EXPECT_EQ(defaults.value("library_filename_Biz").asString(), "biz-eur.json");
  EXPECT_EQ(engine().currentLibrarySyncDate(), std::chrono::floor<std::chrono::seconds>(clock.now()));
}

// An enabled, settled library with a failed run behind it (lastError set).
class ExportRunTest : public EngineTest {
 public:
  void SetUp() override {
    settleLibrary("Home");
    scripts.setAnswer(kNameScript, "Home");
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

TEST_F(ExportRunTest, TwoQuickSyncNowsStartOneRun) {
  std::promise<void> release;
  scripts.setHandler(kExportScript, [gate = release.get_future().share()] {
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

// The name asked about before the sync is the host's; the library's answer
// is read again at write time.
TEST_F(EngineTest, TheSkipLineNamesTheLibraryShownAfterTheAnswer) {
  settleLibrary("Home");
  alerts.queueAnswer(1);
  alerts.setWhileOpen(
      [&](const platform::Alert&) { engine().klDidQuit(std::string(ExportManager::klBundleID)); });
  engine().sync("manual");
  EXPECT_EQ(log.lines(),
            std::vector<std::string>{"[Helper] \u23ED Skipping '?' \u2014 sync disabled by user"});
}

TEST_F(EngineTest, ARunQueuedForAManagerThatIsGoneDoesNothing) {
  testing::ManualDispatcher queued(testing::ManualDispatcher::GlobalMode::queued);
  workspace.launch(ExportManager::klBundleID);
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
  RunOutcome outcome;
  friend void PrintTo(const DecisionCase& c, std::ostream* os) { *os << c.name; }
};

class PublishDecisionTest : public EngineTest, public ::testing::WithParamInterface<DecisionCase> {};

TEST_P(PublishDecisionTest, PublishesOnlyWhatTheUserSaidYesToUnderItsOwnName) {
  const DecisionCase& c = GetParam();
  workspace.launch(ExportManager::klBundleID);
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
  EXPECT_EQ(engine().lastOutcome(), c.outcome);
  EXPECT_EQ(defaults.value("sync_library_Biz").asBool(), c.bizAnswer);
  const auto docs = libraries::containerDocumentsFolder(home.path());
  const auto listed = platform::files::listFolder(docs).value_or(std::vector<std::string>{});
  EXPECT_EQ(listed.size(), c.published ? 2u : 0u);
  if (c.published) {
    EXPECT_EQ(libraries::readPublishedDocument(docs / "biz-eur.json")->libraryName, "Biz");
  }
  for (const std::string& key : defaults.keys()) {
    EXPECT_FALSE(key.starts_with("library_filename_Old") || key.find('\0') != std::string::npos) << key;
  }
}

const std::string kNul = std::string("Bi\0z", 4);
INSTANTIATE_TEST_SUITE_P(
    Orderings, PublishDecisionTest,
    ::testing::Values(DecisionCase{"SwitchedOffDuringTheExport",
                                   [](EngineTest& t) {
                                     t.settleLibrary("Biz");
                                     t.scripts.setAnswer(kNameScript, "Biz");
                                     t.defaults.setBool("sync_library_Biz", true);
                                     t.scripts.setHandler(kExportScript, [&t] {
                                       t.engine().switchOffLibrary("Biz");
                                       return std::string(kExportJson);
                                     });
                                   },
                                   {},
                                   false,
                                   "Skipping 'Biz'",
                                   false,
                                   RunOutcome::skipped},
                      // A new library shown but not settled: published under its own name.
                      DecisionCase{"NameNotYetSettled",
                                   [](EngineTest& t) {
                                     t.settleLibrary("Old");
                                     t.defaults.setBool("sync_library_Old", true);
                                     t.defaults.setBool("sync_library_Biz", true);
                                     t.checkReporting("Biz");
                                     t.scripts.setAnswer(kNameScript, "Biz");
                                   },
                                   {},
                                   true,
                                   "Export OK (manual)",
                                   true,
                                   RunOutcome::published},
                      DecisionCase{"SwitchedDuringTheQuestion",
                                   [](EngineTest& t) {
                                     t.settleLibrary("Old");
                                     t.scripts.setAnswer(kNameScript, "Old");
                                     t.alerts.queueAnswer(0);  // Old: "Sync"
                                     t.alerts.queueAnswer(1);  // Biz: "Don't Sync"
                                     t.alerts.setWhileOpen([&t](const platform::Alert&) {
                                       t.scripts.setAnswer(kNameScript, "Biz");
                                     });
                                   },
                                   {"Old", "Biz"},
                                   false,
                                   "Skipping 'Biz'",
                                   false,
                                   RunOutcome::skipped},
                      DecisionCase{"SwitchedDuringTheExport",
                                   [](EngineTest& t) {
                                     t.settleLibrary("Biz");
                                     t.scripts.setAnswer(kNameScript, "Biz");
                                     t.defaults.setBool("sync_library_Biz", true);
                                     t.scripts.setHandler(kExportScript, [&t] {
                                       t.scripts.setAnswer(kNameScript, "Other");
                                       return std::string(kExportJson);
                                     });
                                   },
                                   {},
                                   false,
                                   "changed from 'Biz' to 'Other' during the export",
                                   true,
                                   RunOutcome::skipped},
                      // No name from the host: the folder's name is asked about and answered.
                      DecisionCase{"NoNameSwitchedOff",
                                   [](EngineTest& t) { t.defaults.setBool("sync_library_Biz", false); },
                                   {},
                                   false,
                                   "Skipping 'Biz'",
                                   false,
                                   RunOutcome::skipped},
                      DecisionCase{"NoNameAskedBeforeWriting",
                                   [](EngineTest& t) { t.alerts.queueAnswer(1); },
                                   {"Biz"},
                                   false,
                                   "Skipping 'Biz'",
                                   false,
                                   RunOutcome::skipped},
                      DecisionCase{"NulInTheReportedName",
                                   [](EngineTest& t) {
                                     t.settleLibrary(kNul);
                                     t.scripts.setAnswer(kNameScript, kNul);
                                     t.defaults.setBool("sync_library_Biz", true);
                                   },
                                   {},
                                   true,
                                   "Export OK (manual)",
                                   true,
                                   RunOutcome::published}),
    [](const auto& info) { return info.param.name; });

TEST_F(ExportRunTest, AutomationRefusedAfterTheExportFailsWithTheFixNotAsAChangedLibrary) {
  scripts.setHandler(kExportScript, [this] {
    scripts.setRefused(true);  // the name script that follows is refused
    return std::string(kExportJson);
  });
  engine().sync("manual");
  settle();
  EXPECT_EQ(engine().lastError(), std::string(exportErrorMessage(ExportErrorCode::klNotAuthorized)));
  EXPECT_TRUE(log.contains("[Helper] \u2717 Export failed (manual): klNotAuthorized"));
}

struct FailureCase {
  const char* name;
  std::function<std::string()> exportAnswer;
  std::string message, description;
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
};

class ExportFailureTest : public ExportRunTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ExportFailureTest, RecordsTheMessageAndGivesTheSlotBack) {
  scripts.setHandler(kExportScript, GetParam().exportAnswer);
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
  EXPECT_EQ(takeNotifications(), 2);

  scripts.setHandler(kExportScript, [] { return std::string(kExportJson); });
  engine().sync("manual");
  settle();
  EXPECT_TRUE(log.contains("Export OK (manual)"));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ExportFailureTest,
    ::testing::Values(FailureCase{"noAnswer", [] { return std::string(); }, "Kettle Ledger did not respond",
                                  "klNotResponding"},
                      FailureCase{"notJson", [] { return std::string("{items"); }, "Could not parse export",
                                  "parseFailure"},
                      FailureCase{"noItems", [] { return std::string(R"({"items":[]})"); },
                                  "Library is empty", "emptyLibrary"},
                      // An error of another kind uses its own description.
                      FailureCase{"otherError",
                                  []() -> std::string { throw std::runtime_error("pipe broke"); },
                                  "pipe broke", "pipe broke"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quillory::engine::test
