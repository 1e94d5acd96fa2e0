// Faults a sync meets, on the engine as the application runs it: the run-loop
// dispatcher (the test's thread is its main thread), the real script runner
// over the simulated Kettle Ledger (tools/kettle-ledger-sim, answering from a
// state folder the test rewrites), the property-list settings file and real
// files; only the desktop, the alerts (always the first button) and the clock
// are stand-ins. The faults: files where folders belong and folders where
// files belong in the destinations, there before the first sync; and after a
// first sync has published, a write past the file size limit (as on a full
// disk), a host that dies mid-output, prints bytes that are not UTF-8 or
// never ends and ignores the termination request. (A settings file replaced
// by garbage: the settings store's own test.) They are
// made with the file system itself, so they also happen when run as root.
//
// Each sync ends with its error or succeeds as far as it can, logs what
// failed, writes no records when it fails and leaves what was published, no
// partial file and nothing changed outside the helper's folders; once the
// fault is gone the next sync succeeds.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "bridge/OsascriptRunner.h"
#include "engine/ExportManager.h"
#include "platform/Files.h"
#include "platform/posix/JsonDefaults.h"
#include "platform/posix/RunLoopDispatcher.h"
#include "publish/ContainerPaths.h"
#include "publish/ExportError.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
#include "support/FakeWorkspace.h"
#include "support/OutsideTheFolders.h"
#include "support/PublishedFiles.h"
#include "support/ScriptedAlerts.h"
#include "support/TempHome.h"

namespace quillory::faults::test {
namespace {

namespace fs = std::filesystem;

enum class Kind {
  obstacle,       // at `text` below the home folder a file where a folder belongs, or a folder
                  // (holding keep.txt) where a file belongs; it must stay as it is
  fileSizeLimit,  // a 64 KB file size limit for this process and its children (SIGXFSZ ignored, so
                  // that a write past it fails with EFBIG), then a large export
  hostCut,        // the host's export ends as cut.txt `text` says
  hostExport,     // the host's export is `text`
};
const std::string kDocuments{publish::kContainerDocumentsRelative};
const std::string kAppDocuments = "Library/Containers/mobile/Data/Documents";
const std::string kDocs = "[Helper]   \u2717 Documents: ";

struct SyncFault {
  const char* name;
  Kind kind;
  std::string text;
  bool folder;
  std::optional<publish::ExportErrorCode> failure;  // none when the sync succeeds
  std::string line{};                               // expected in the log besides the sync's own line
  int destinations = 1;                             // with an app container added before the first sync: 2
  friend void PrintTo(const SyncFault& c, std::ostream* os) { *os << c.name; }
};

using enum Kind;
using enum publish::ExportErrorCode;
const SyncFault kFaults[] = {
    // The other destinations are written all the same.
    {"ContainerDocumentsIsAFile", obstacle, kDocuments, false, std::nullopt, kDocs, 2},
    {"MobileDocumentsIsAFile", obstacle, "Library/Mobile Documents", false, noDestinations, kDocs},
    {"DocumentIsAFolder", obstacle, kDocuments + "/biz-eur.json", true, noDestinations, kDocs},
    {"MarkerIsAFolder", obstacle, kDocuments + "/biz-eur_updated.txt", true, noDestinations, kDocs},
    {"AppDocumentsIsAFile", obstacle, kAppDocuments, false, std::nullopt, kDocs, 2},
    {"AppDocumentIsAFolder", obstacle, kAppDocuments + "/biz-eur.json", true, std::nullopt, kDocs, 2},
    {"ContainersFolderIsAFile", obstacle, "Library/Containers", false, std::nullopt},
    {"FileSizeLimitIsReached", fileSizeLimit, "", false, noDestinations, kDocs + std::strerror(EFBIG)},
    {"HostDiesMidOutput", hostCut, "200 dies", false, parseFailure},
    // The host answered, but not with UTF-8: no JSON, and said so.
    {"HostPrintsInvalidUtf8", hostExport, "{\"items\":[{\"id\":\"1\",\"title\":\"\xff\xfe\"}]}", false,
     parseFailure, "[Helper] \u26A0 JXA output is not UTF-8 text \u2014 ignored"},
    // The export's 90-second limit passes 30 times faster.
    {"HostNeverEndsAndIgnoresTerm", hostCut, "10 hangs", false, klNotResponding,
     "[Helper] \u26A0 JXA timed out after 90s \u2014 check System Settings \u203A Privacy & Security \u203A "
     "Automation"},
};

class SyncFaultTest : public ::testing::TestWithParam<SyncFault> {
 protected:
  void SetUp() override {
    home.writeFile("Ledgers/Biz/Library.kledger", "Kettle Ledger library\n");
    home.writeFile("Library/Preferences/unrelated.plist", "<plist/>");
    ::setenv("KETTLE_LEDGER_SIM_DIR", host.path().c_str(), 1);  // before any thread of the test runs
    host.writeFile("name.txt", "Biz\n");
    setLargeExport(false);
    if (GetParam().destinations == 2)
      home.writeFile("Library/Containers/mobile/Data/Library/Preferences/test.quillory.mobile.plist",
                     "<plist/>");
    workspace.launch(engine::ExportManager::klBundleID);
    outsideBefore = outsideTheFolders();
  }

  void TearDown() override {
    manager.reset();
    dispatcher.reset();  // joins its workers: nothing of the run is left
    EXPECT_EQ(outsideTheFolders(), outsideBefore) << "something outside the helper's folders changed";
  }

  // The host's export: one receipt of the library in Ledgers/Biz, amount in
  // euros, with text in a kept field that makes it large or small.
  void setLargeExport(bool large) {
    host.writeFile("export.json",
                   R"({"format":"kettleledger.export","version":4,"items":[{"id":"r0",)"
                   R"("title":"Receipt","amounts":{"currency":"eur","total":12.5},"asset":{"path":")" +
                       (home / "Ledgers/Biz/assets/0.pdf").string() + R"("},"notes":")" +
                       std::string(large ? 300000 : 10, 'n') + R"("}]})");
  }

  std::set<std::string> outsideTheFolders() const {
    return testing::outsideTheFolders(home.path(), {documents, appDocuments, settingsFile.parent_path()});
  }

  // "Sync Now", run until it and its notifications have ended: it ends with
  // `failure` (none: published to `destinations`) and logs `line`; every
  // .json in the helper's folders is a complete document, every marker a
  // timestamp, and no temporary file is left.
  void expectSyncNow(std::optional<publish::ExportErrorCode> failure, const std::string& line = "",
                     int destinations = 1) {
    log.clear();
    manager->sync("manual");
    ASSERT_TRUE(dispatcher->runUntil([this] { return !manager->isSyncing(); }, std::chrono::minutes(2)));
    dispatcher->runUntil([] { return false; }, std::chrono::milliseconds(10));
    // The first destination's reason follows "No write destinations found".
    const std::string message = failure ? std::string(publish::exportErrorMessage(*failure)) : "";
    EXPECT_EQ(manager->lastError().value_or("").substr(0, message.size()), message);
    EXPECT_EQ(manager->lastError().has_value(), failure.has_value());
    if (failure == publish::ExportErrorCode::noDestinations) {  // the reason the log gives for it
      const std::string reason =
          manager->lastError()->substr(std::min(message.size() + 2, manager->lastError()->size()));
      EXPECT_TRUE(!reason.empty() && log.contains(kDocs + reason)) << *manager->lastError();
    }
    EXPECT_TRUE(log.contains(failure ? "[Helper] \u2717 Export failed (manual): " +
                                           std::string(publish::exportErrorCaseName(*failure))
                                     : "[Helper] \u2713 Export OK (manual) \u2192 " +
                                           std::to_string(destinations) + " destination(s)"));
    EXPECT_TRUE(log.contains(line)) << line;
    EXPECT_EQ(log.contains(kDocs), line.starts_with(kDocs));
    for (const fs::path& folder : {documents, appDocuments, settingsFile.parent_path()}) {
      for (const std::string& name :
           platform::files::listFolder(folder).value_or(std::vector<std::string>{})) {
        EXPECT_FALSE(name.starts_with('.')) << "temporary file left: " << (folder / name);
        if (!fs::is_regular_file(folder / name)) continue;
        const std::string bytes = platform::files::readFile(folder / name).value_or("");
        EXPECT_TRUE(!name.ends_with(".json") || folder / name == settingsFile ||
                    testing::isCompleteDocument(bytes))
            << (folder / name);
        EXPECT_TRUE(!name.ends_with("_updated.txt") || testing::isCompleteMarker(bytes)) << (folder / name);
      }
    }
  }

  fs::path obstacle() const { return home / GetParam().text; }
  fs::path obstacleFile() const { return GetParam().folder ? obstacle() / "keep.txt" : obstacle(); }

  void make() {
    const SyncFault& f = GetParam();
    if (f.kind == Kind::obstacle) {
      fs::remove_all(obstacle());
      home.writeFile(obstacleFile().lexically_relative(home.path()), f.folder ? "kept" : "not a folder");
    } else if (f.kind == Kind::fileSizeLimit) {
      setLargeExport(true);  // before the limit, which would stop its writing
      ::signal(SIGXFSZ, SIG_IGN);
      ::getrlimit(RLIMIT_FSIZE, &savedLimit);
      rlimit limited{64 * 1024, savedLimit.rlim_max};
      ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    } else {
      host.writeFile(f.kind == Kind::hostCut ? "cut.txt" : "export.json", f.text);
      if (f.text == "10 hangs") clock.setSpeed(30);
    }
  }

  testing::TempHome home, host;  // host: the simulator's state folder
  testing::CapturingLog log;
  testing::FakeClock clock{std::chrono::system_clock::now(), 1};
  testing::FakeWorkspace workspace;
  const fs::path settingsFile = home / ".config/quillory-helper/settings.json";
  const fs::path documents = home / kDocuments, appDocuments = home / kAppDocuments;
  std::set<std::string> outsideBefore;
  rlimit savedLimit{};
  platform::posix::JsonDefaults defaults{settingsFile, log, clock};
  std::optional<platform::posix::RunLoopDispatcher> dispatcher{std::in_place};
  testing::ScriptedAlerts alerts{&*dispatcher};
  bridge::OsascriptRunner runner{*dispatcher, log, clock, KETTLE_LEDGER_SIM};
  std::shared_ptr<engine::ExportManager> manager = engine::ExportManager::create(
      engine::Environment{defaults, *dispatcher, clock, log, workspace, alerts, runner, home.path()});
};

TEST_P(SyncFaultTest, IsReportedAndRecoveredFrom) {
  const SyncFault& fault = GetParam();
  for (int check = 0; check < 2; ++check) manager->periodicCheck();  // the host's library name settles
  // An obstacle is there before the first sync; the other faults come after it.
  if (fault.kind != Kind::obstacle) expectSyncNow(std::nullopt);
  make();
  const auto published = testing::outsideTheFolders(documents, {});  // every file there, with its bytes
  const auto record = defaults.value("library_filename_Biz").asString();

  expectSyncNow(fault.failure, fault.line);
  EXPECT_EQ(alerts.shown().size(), 1u) << "the library's answer was forgotten";
  EXPECT_TRUE(!fault.failure || defaults.value("library_filename_Biz").asString() == record)
      << "records of a failure";
  if (fault.kind == Kind::obstacle) {
    EXPECT_EQ(fs::exists(appDocuments / "eur.json"), fault.destinations == 2 && fault.text != kAppDocuments)
        << "the currency pair beside a failed one";
    EXPECT_EQ(fs::is_directory(obstacle()), fault.folder) << "the obstacle was removed";
    EXPECT_EQ(platform::files::readFile(obstacleFile()), fault.folder ? "kept" : "not a folder");
  } else if (fault.failure) {
    EXPECT_EQ(testing::outsideTheFolders(documents, {}), published);
  }

  clock.setSpeed(1);  // the fault goes
  if (fault.kind == Kind::fileSizeLimit) ::setrlimit(RLIMIT_FSIZE, &savedLimit);
  if (fault.kind == Kind::obstacle) fs::remove_all(obstacle());
  fs::remove(host / "cut.txt");
  setLargeExport(false);
  expectSyncNow(std::nullopt, "", fault.destinations);
  testing::CapturingLog readerLog;  // a fresh store over the file sees the records
  platform::posix::JsonDefaults reread(settingsFile, readerLog, clock);
  EXPECT_TRUE(readerLog.lines().empty()) << "the settings file on disk is not a complete settings object";
  EXPECT_EQ(reread.value("sync_library_Biz").asBool(), std::optional<bool>(true));
  EXPECT_EQ(reread.value("library_filename_Biz").asString(), std::optional<std::string>("biz-eur.json"));
}

INSTANTIATE_TEST_SUITE_P(Faults, SyncFaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillory::faults::test
