#include "faults/FaultFixture.h"

#include <sys/stat.h>

#include <boost/json/parse.hpp>
#include <fstream>
#include <sstream>
#include <thread>

#include "libraries/ContainerPaths.h"
#include "platform/Files.h"
#include "platform/Iso8601.h"

namespace quillory::faults::test {

namespace {

namespace json = boost::json;

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

void writeText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  ASSERT_TRUE(out.good()) << file;
}

void makeExecutable(const fs::path& file) { ::chmod(file.c_str(), 0755); }

}  // namespace

platform::Date AdjustableClock::now() const {
  std::lock_guard lock(mutex_);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - since_).count();
  return base_ + std::chrono::duration_cast<platform::Date::duration>(
                     std::chrono::duration<double>(elapsed * speed_));
}

void AdjustableClock::sleepFor(double seconds) {
  std::unique_lock lock(mutex_);
  const double speed = speed_;
  lock.unlock();
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds / speed));
}

void AdjustableClock::setSpeed(double speed) {
  const platform::Date current = now();
  std::lock_guard lock(mutex_);
  base_ = current;
  since_ = std::chrono::steady_clock::now();
  speed_ = speed;
}

void FaultTest::SetUp() {
  hostState = home.makeFolder("host");
  libraryFolder = home.makeFolder("Ledgers/Biz");
  home.makeFolder("Ledgers/Biz/assets");
  home.writeFile("Ledgers/Biz/Library.kledger", "Kettle Ledger library\n");
  home.writeFile("Library/Preferences/unrelated.plist", "<plist/>");
  settingsFile = home / ".config/quillory-helper/test.quillory.helper.plist";

  // The stand-in script launcher: "-l JavaScript -e SCRIPT", answered from
  // the files in `hostState`.
  host = hostState / "osascript";
  const std::string state = hostState.string();
  writeText(host, "#!/bin/sh\ncase \"$4\" in\n  *'documents[0].name()'*) cat '" + state +
                      "/name.txt' ;;\n  *'export()'*) exec '" + state +
                      "/export.sh' ;;\n  *) echo 'unknown script' >&2; exit 1 ;;\nesac\n");
  makeExecutable(host);
  writeText(hostState / "name.txt", std::string(kLibrary) + "\n");
  writeText(hostState / "export.json", exportText(libraryFolder, 3, 10));
  writeText(hostState / "large.json", exportText(libraryFolder, 30, 10000));
  setHostExport(HostExport::good);

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
  runner = std::make_unique<bridge::OsascriptRunner>(*dispatcher, clock, log, host.string());
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

void FaultTest::setHostExport(HostExport behaviour) {
  const std::string exportFile = (hostState / "export.json").string();
  const std::string bodies[] = {
      /* good */ "cat '" + exportFile + "'\n",
      /* large */ "cat '" + (hostState / "large.json").string() + "'\n",
      /* diesMidway */ "head -c 200 '" + exportFile + "'\nkill -KILL $$\n",
      /* invalidUtf8 */ "printf '{\"items\":[{\"id\":\"1\",\"title\":\"\\377\\376\"}]}'\n",
      /* neverEnds */ "trap '' TERM\necho $$ > '" + (hostState / "pid").string() +
          "'\nprintf '{\"items\":['\nwhile :; do sleep 0.05; done\n",
  };
  writeText(hostState / "export.sh", "#!/bin/sh\n" + bodies[static_cast<int>(behaviour)]);
  makeExecutable(hostState / "export.sh");
}

void FaultTest::settleLibrary() {
  manager->periodicCheck();
  manager->periodicCheck();
  ASSERT_EQ(manager->state().confirmedLibraryName, std::optional<std::string>(kLibrary));
  dispatcher->runUntil([] { return false; }, 0.01);
}

std::optional<std::string> FaultTest::syncNow() {
  manager->sync("manual");
  EXPECT_TRUE(dispatcher->runUntil([this] { return !manager->isSyncing(); }, 120)) << "the sync never ended";
  dispatcher->runUntil([] { return false; }, 0.01);  // the last notifications
  return manager->lastError();
}

std::string FaultTest::statusLine() const {
  if (manager->isSyncing()) return "Syncing\u2026";
  if (const auto error = manager->lastError()) return "\u26A0 " + *error;
  return manager->currentLibrarySyncDate() ? "Last sync: ..." : "Never synced";
}

fs::path FaultTest::documents() const { return libraries::containerDocumentsFolder(home.path()); }

fs::path FaultTest::appDocuments() const { return home / "Library/Containers/mobile/Data/Documents"; }

void FaultTest::addAppContainer() {
  home.writeFile("Library/Containers/mobile/Data/Library/Preferences/test.quillory.mobile.plist", "<plist/>");
  outsideBefore = outsideTheFolders();
}

void FaultTest::expectNoPartialFiles() const {
  for (const fs::path& folder : {documents(), appDocuments(), settingsFile.parent_path()}) {
    const auto entries = platform::files::listFolder(folder);
    if (!entries) continue;
    for (const std::string& name : *entries) {
      EXPECT_FALSE(name.starts_with('.')) << "temporary file left: " << (folder / name);
      std::error_code ec;
      if (!fs::is_regular_file(folder / name, ec)) continue;
      const auto bytes = platform::files::readFile(folder / name);
      ASSERT_TRUE(bytes) << folder / name;
      if (name.ends_with(".json")) {
        std::error_code parseError;
        const json::value value = json::parse(*bytes, parseError);
        EXPECT_TRUE(!parseError && value.is_object()) << "not a complete document: " << (folder / name);
      } else if (name.find("_updated.txt") != std::string::npos) {
        EXPECT_TRUE(platform::parseIso8601(*bytes)) << "not a timestamp: " << (folder / name);
      }
    }
  }
}

std::set<std::string> FaultTest::outsideTheFolders() const {
  const std::vector<fs::path> helperFolders = {documents(), appDocuments(), settingsFile.parent_path()};
  std::set<std::string> found;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(home.path(), ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    const std::string p = path.string();
    // The host's answer files are rewritten by the tests themselves.
    bool skip = p.starts_with(hostState.string());
    for (const fs::path& folder : helperFolders) {
      const std::string f = folder.string();
      // Inside a helper folder, or a parent the helper creates.
      skip = skip || p == f || p.starts_with(f + "/") || f.starts_with(p + "/");
    }
    if (skip) continue;
    std::string entry = fs::relative(path, home.path()).string();
    if (!it->is_directory(ec) && !it->is_symlink(ec)) {
      // append, not " " + ...: GCC 12 warns -Wrestrict about that at -O2
      entry.append(" ").append(platform::files::readFile(path).value_or("<unreadable>"));
    }
    found.insert(entry);
  }
  return found;
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
}

}  // namespace quillory::faults::test
