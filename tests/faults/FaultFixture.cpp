#include "faults/FaultFixture.h"

#include <stdlib.h>

#include <sstream>

#include "platform/Files.h"
#include "presentation/StatusLine.h"
#include "publish/ContainerPaths.h"
#include "support/OutsideTheFolders.h"
#include "support/PublishedFiles.h"

namespace quillory::faults::test {

namespace {

// An export of one library in `folder`, amounts in euros, with `padding`
// bytes of text in a kept field so that its size can be chosen.
std::string exportText(const fs::path& folder, std::size_t items, std::size_t padding) {
  std::ostringstream out;
  out << R"({"format":"kettleledger.export","version":4,"items":[)";
  for (std::size_t i = 0; i < items; ++i) {
    if (i != 0) out << ',';
    out << R"({"id":"r)" << i << R"(","title":"Receipt )" << i
        << R"(","amounts":{"currency":"eur","total":12.5},)"
        << R"("asset":{"path":")" << (folder / "assets" / (std::to_string(i) + ".pdf")).string() << R"("},)"
        << R"("notes":")" << std::string(padding, 'n') << R"("})";
  }
  out << "]}";
  return out.str();
}

}  // namespace

void FaultTest::SetUp() {
  libraryFolder = home.makeFolder("Ledgers/Biz");
  home.makeFolder("Ledgers/Biz/assets");
  home.writeFile("Ledgers/Biz/Library.kledger", "Kettle Ledger library\n");
  home.writeFile("Library/Preferences/unrelated.plist", "<plist/>");
  settingsFile = home / ".config/quillory-helper/test.quillory.helper.plist";

  // Set before any thread of the test runs; the simulator reads it.
  ::setenv("KETTLE_LEDGER_SIM_DIR", host.path().c_str(), 1);
  setHost("name.txt", "Biz\n");
  setLargeExport(false);

  workspace.launch(engine::ExportManager::klBundleID);
  outsideBefore = outsideTheFolders();
  launch();
}

void FaultTest::TearDown() {
  quit();
  EXPECT_EQ(outsideTheFolders(), outsideBefore) << "something outside the helper's folders changed";
}

void FaultTest::launch() {
  quit();
  defaults = std::make_unique<platform::posix::PlistDefaults>(settingsFile, log, clock);
  defaults->setBool(engine::kAutoSyncEnabledKey, false);
  dispatcher = std::make_unique<platform::posix::RunLoopDispatcher>();
  alerts = std::make_unique<testing::ScriptedAlerts>(dispatcher.get());
  runner = std::make_unique<bridge::OsascriptRunner>(*dispatcher, clock, log, KETTLE_LEDGER_SIM);
  manager = engine::ExportManager::create(
      engine::Environment{*defaults, *dispatcher, clock, log, workspace, *alerts, *runner, home.path()});
}

void FaultTest::quit() {
  manager.reset();
  runner.reset();
  dispatcher.reset();  // joins its workers: nothing of the old run is left
  alerts.reset();
  defaults.reset();
}

void FaultTest::setHost(const std::string& file, const std::string& text) { host.writeFile(file, text); }

void FaultTest::setLargeExport(bool large) {
  setHost("export.json", large ? exportText(libraryFolder, 30, 10000) : exportText(libraryFolder, 3, 10));
}

void FaultTest::settleLibrary() {
  manager->periodicCheck();
  manager->periodicCheck();
  ASSERT_EQ(manager->state().confirmedLibraryName, std::optional<std::string>("Biz"));
  dispatcher->runUntil([] { return false; }, std::chrono::milliseconds(10));
}

std::optional<std::string> FaultTest::syncNow() {
  manager->sync("manual");
  EXPECT_TRUE(dispatcher->runUntil([this] { return !manager->isSyncing(); }, std::chrono::minutes(2)))
      << "the sync never ended";
  dispatcher->runUntil([] { return false; }, std::chrono::milliseconds(10));  // the last notifications
  return manager->lastError();
}

std::string FaultTest::statusLine() const {
  return presentation::statusLineFor(manager->isSyncing(), manager->lastError(),
                                     manager->currentLibrarySyncDate(), [](platform::Date) { return "..."; })
      .title;
}

fs::path FaultTest::documents() const { return publish::containerDocumentsFolder(home.path()); }

fs::path FaultTest::appDocuments() const { return home / "Library/Containers/mobile/Data/Documents"; }

void FaultTest::addAppContainer() {
  home.writeFile("Library/Containers/mobile/Data/Library/Preferences/test.quillory.mobile.plist", "<plist/>");
  outsideBefore = outsideTheFolders();
}

void FaultTest::expectNoPartialFiles() const {
  for (const fs::path& folder : {documents(), appDocuments(), settingsFile.parent_path()}) {
    for (const std::string& name : platform::files::listFolder(folder).value_or(std::vector<std::string>{})) {
      EXPECT_FALSE(name.starts_with('.')) << "temporary file left: " << (folder / name);
      const std::string bytes = platform::files::readFile(folder / name).value_or("");
      if (name.ends_with(".json") && fs::is_regular_file(folder / name)) {
        EXPECT_TRUE(testing::isCompleteDocument(bytes)) << "not a complete document: " << (folder / name);
      } else if (name.ends_with("_updated.txt") && fs::is_regular_file(folder / name)) {
        EXPECT_TRUE(testing::isCompleteMarker(bytes)) << "not a timestamp: " << (folder / name);
      }
    }
  }
}

std::set<std::string> FaultTest::outsideTheFolders() const {
  return testing::outsideTheFolders(home.path(), {documents(), appDocuments(), settingsFile.parent_path()});
}

void FaultTest::expectNextSyncSucceeds(int destinations) {
  log.clear();
  EXPECT_EQ(syncNow(), std::nullopt) << "the helper did not recover";
  EXPECT_TRUE(log.contains("[Helper] \u2713 Export OK (manual) \u2192 " + std::to_string(destinations) +
                           " destination(s)"));
  const auto document = platform::files::readFile(documents() / kDocument);
  ASSERT_TRUE(document);
  EXPECT_NE(document->find("\"libraryName\":\"Biz\""), std::string::npos);
  EXPECT_TRUE(manager->currentLibrarySyncDate());
  expectNoPartialFiles();

  testing::CapturingLog readerLog;
  platform::posix::PlistDefaults reread(settingsFile, readerLog, clock);
  EXPECT_EQ(readerLog.size(), 0u) << "the settings file on disk is not a complete property list";
  EXPECT_EQ(reread.value("sync_library_Biz").asBool(), std::optional<bool>(true));
  EXPECT_EQ(reread.value("library_filename_Biz").asString(), std::optional<std::string>(kDocument));
  EXPECT_TRUE(reread.value("lastSyncDate").asDate());
}

}  // namespace quillory::faults::test
