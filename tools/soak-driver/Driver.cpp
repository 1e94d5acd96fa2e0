#include "Driver.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>  // mkdtemp on macOS

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>

#include "Report.h"
#include "platform/Files.h"
#include "publish/ContainerPaths.h"
#include "support/OutsideTheFolders.h"

namespace quillory::soak {

namespace fs = std::filesystem;

void Driver::setUp() {
  if (options_.out.empty()) {
    std::string pattern = (fs::temp_directory_path() / "quillory-soak-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) usage("cannot create a temporary folder");
    options_.out = pattern;
  }
  fs::create_directories(options_.out);
  home_ = fs::absolute(options_.out) / "home";
  simState_ = fs::absolute(options_.out) / "sim";
  fs::create_directories(home_);
  fs::create_directories(simState_);
  // One local app container, so that every export has two destinations.
  const fs::path preferences = home_ / "Library/Containers/soak-container/Data/Library/Preferences";
  fs::create_directories(preferences);
  std::ofstream(preferences / "test.quillory.mobile.plist") << "<plist/>";

  const std::vector<std::pair<std::string, std::string>> names = {
      {"Finch Studio EUR", "eur"}, {"Home CHF", "chf"}, {"Trip USD", "usd"}, {"Caf\u00e9 Privat", "gbp"}};
  for (const auto& [name, currency] : names) {
    HostLibrary library{name, currency, home_ / "Libraries" / name, {}};
    fs::create_directories(library.folder / "assets");
    library.exportText = exportFor(library.folder, currency, 40 + static_cast<int>(random_() % 200), random_);
    libraries_.push_back(std::move(library));
  }
  outsideAtStart_ = testing::outsideTheFolders(home_, helperFolders());

  // Set before the engine's first thread; the simulator reads it.
  ::setenv("KETTLE_LEDGER_SIM_DIR", simState_.c_str(), 1);
  clock_ = std::make_unique<testing::FakeClock>(std::chrono::system_clock::now(), options_.speed);
  log_ = std::make_unique<SoakLog>(options_.out / "helper.log");
  defaults_ = std::make_unique<platform::posix::JsonDefaults>(home_ / ".config/quillory-helper/settings.json",
                                                              *log_, *clock_);
  dispatcher_ = std::make_unique<platform::posix::RunLoopDispatcher>();
  workspace_.setRunning({std::string("org.example.editor"), std::nullopt});
  // Every alert is answered with its first button ("Sync", "OK", "Switch Off").
  alerts_ = std::make_unique<testing::ScriptedAlerts>(dispatcher_.get());
  scripts_ = std::make_unique<bridge::OsascriptRunner>(*dispatcher_, *log_, *clock_,
                                                       fs::absolute(options_.sim).string());
  manager_ = engine::ExportManager::create(
      engine::Environment{*defaults_, *dispatcher_, *clock_, *log_, workspace_, *alerts_, *scripts_, home_});
  manager_->setOnStatusChanged([this] { refresh(); });

  reader_ = std::make_unique<MirrorReader>(
      std::vector<fs::path>{publish::containerDocumentsFolder(home_),
                            home_ / "Library/Containers/soak-container/Data/Documents"},
      fs::absolute(options_.out) / "icloud-mirror");

  switchLibrary(0);
  launchHost();
}

// The helper's folders and the driver's own (the host's libraries).
std::vector<fs::path> Driver::helperFolders() const {
  return {publish::containerDocumentsFolder(home_), home_ / "Library/Containers/soak-container",
          home_ / ".config/quillory-helper", home_ / "Libraries"};
}

SoakFigures Driver::quietFigures(const char* when) {
  paused_ = true;
  const bool quiet = dispatcher_->runUntil(
      [this] { return !manager_->isSyncing() && dispatcher_->settled(); }, std::chrono::minutes(2));
  reader_->hold(true);
  const SoakFigures figures = takeSoakFigures();
  reader_->hold(false);
  std::cout << "[soak] " << when << (quiet ? " (quiet)" : " (NOT quiet)") << ": " << describe(figures)
            << std::endl;
  paused_ = false;
  return figures;
}

// A last sync must still work: each library in turn is opened in the host,
// switched on, settled (checks run) and synced, until one succeeds. A
// library whose file name an earlier race gave to another library's folder
// stays refused with a name conflict, as designed; those are counted.
bool Driver::lastSyncSucceeds(long& librariesInConflict) {
  const auto conflict = std::string(publish::exportErrorMessage(publish::ExportErrorCode::nameConflict));
  for (std::size_t i = 0; i < libraries_.size(); ++i) {
    switchLibrary(i);
    manager_->setLibraryEnabled(libraries_[i].name, true);
    const std::string wanted = libraries_[i].name;
    auto nextCheck = Steady::now();
    dispatcher_->runUntil(
        [&] {
          // Done is asked after every main-queue task and timer tick.
          if (Steady::now() >= nextCheck) {
            manager_->scheduleCheck();
            nextCheck = Steady::now() + std::chrono::milliseconds(500);
          }
          return manager_->state().confirmedLibraryName == wanted;
        },
        std::chrono::seconds(30));
    const long okBefore = log_->counts()["exportsOk"];
    manager_->sync("manual");
    dispatcher_->runUntil([this] { return !manager_->isSyncing(); }, std::chrono::minutes(2));
    dispatcher_->runUntil([] { return false; }, std::chrono::milliseconds(100));
    if (log_->counts()["exportsOk"] > okBefore) return true;
    if (manager_->lastError() == conflict) ++librariesInConflict;
  }
  return false;
}

int Driver::run() {
  ::signal(SIGPIPE, SIG_IGN);
  setUp();
  std::cout << "[soak] output in " << options_.out.string() << ", speed " << options_.speed << "x, "
            << options_.minutes << " minute(s)" << std::endl;

  const auto begin = Steady::now();
  const Steady::time_point end = begin + std::chrono::duration_cast<Steady::duration>(
                                             std::chrono::duration<double>(options_.minutes * 60));
  manager_->startMonitoring();
  // The 10-second check at the driver's speed, besides the real-time timers
  // startMonitoring made.
  dispatcher_->repeatOnMain(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::seconds(10) / options_.speed),
      [this] {
        if (paused_) return;
        ++counters_.checksScheduled;
        manager_->scheduleCheck();
      });
  dispatcher_->repeatOnMain(std::chrono::milliseconds(250), [this] { tick(); });
  reader_->start();

  // Warm up (first syncs, first checks, pools grown), then the start figures.
  const auto warmUp = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::min(std::chrono::duration<double>(30), std::chrono::duration<double>(options_.minutes * 60 / 4)));
  dispatcher_->runUntil([] { return false; }, warmUp);
  Outcome outcome;
  outcome.start = quietFigures("start");

  auto nextSample = Steady::now() + std::chrono::seconds(60);
  while (Steady::now() < end) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(std::min(end, nextSample) - Steady::now());
    dispatcher_->runUntil([] { return false; }, std::max(left, std::chrono::milliseconds(10)));
    if (Steady::now() >= nextSample) {
      nextSample += std::chrono::seconds(60);
      const auto counts = log_->counts();
      const auto read = reader_->totals();
      const auto minute = std::chrono::duration_cast<std::chrono::minutes>(Steady::now() - begin).count();
      std::cout << "[soak] minute " << minute << ": " << describe(takeSoakFigures())
                << " exportsOk=" << (counts.count("exportsOk") ? counts.at("exportsOk") : 0)
                << " exportsFailed=" << (counts.count("exportsFailed") ? counts.at("exportsFailed") : 0)
                << " readerPasses=" << read.passes << " broken=" << read.brokenDocuments + read.brokenMarkers
                << std::endl;
    }
  }

  // The end: bring the host back and every library folder, let it settle.
  paused_ = true;
  if (!hostRunning()) launchHost();
  for (const HostLibrary& library : libraries_) fs::create_directories(library.folder / "assets");
  removedFolders_.clear();
  paused_ = false;
  outcome.finish = quietFigures("end");
  paused_ = true;
  reader_->stop();

  outcome.lastSyncOk = lastSyncSucceeds(outcome.librariesInConflict);
  outcome.read = reader_->finalPass();
  const std::set<std::string> outsideNow = testing::outsideTheFolders(home_, helperFolders());
  std::set_symmetric_difference(outsideAtStart_.begin(), outsideAtStart_.end(), outsideNow.begin(),
                                outsideNow.end(), std::back_inserter(outcome.outside));
  // Temporary files left in the destination folders once all is quiet.
  for (const fs::path& folder :
       {publish::containerDocumentsFolder(home_), home_ / "Library/Containers/soak-container/Data/Documents",
        home_ / ".config/quillory-helper"}) {
    for (const std::string& name : platform::files::listFolder(folder).value_or(std::vector<std::string>{})) {
      if (name.starts_with('.')) ++outcome.leftovers;
    }
  }
  outcome.counts = log_->counts();
  outcome.failures = log_->failures();
  for (const platform::Alert& alert : alerts_->shown()) {
    ++outcome.alerts[alert.message.substr(0, alert.message.find(' '))];
  }
  const double elapsed = std::chrono::duration<double>(Steady::now() - begin).count();
  outcome.minutes = elapsed / 60;
  outcome.helperHours = elapsed * options_.speed / 3600;
  const bool ok = report(counters_, outcome);

  // The manager's closures hold it weakly; the dispatcher joins its workers.
  manager_.reset();
  dispatcher_.reset();
  return ok ? 0 : 1;
}

}  // namespace quillory::soak
