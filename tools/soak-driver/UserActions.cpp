// What the driver does as a user would: on a timer it switches the host's
// library, quits and relaunches the host, activates it, asks for "Sync Now",
// switches libraries off (deleting their files, as the menu does) and on
// again, and now and then removes a library's folder and brings it back.

#include <algorithm>
#include <fstream>

#include "Driver.h"

namespace quillory::soak {

namespace fs = std::filesystem;

namespace {
constexpr const char* kHost = engine::ExportManager::klBundleID;
}  // namespace

void Driver::tick() {
  if (paused_) return;
  ++counters_.ticks;
  const auto now = Steady::now();
  for (auto it = removedFolders_.begin(); it != removedFolders_.end();) {
    if (now >= it->second) {
      for (const HostLibrary& library : libraries_) {
        if (library.name == it->first) fs::create_directories(library.folder / "assets");
      }
      ++counters_.foldersRestored;
      it = removedFolders_.erase(it);
    } else {
      ++it;
    }
  }

  const int roll = static_cast<int>(random_() % 1000);
  const bool syncing = manager_->isSyncing();
  if (roll < 120) {
    // "Sync Now", pressed as a user would: when the host is not running, or
    // once the menu shows the library the host has open. (Pressed in the
    // seconds before the helper has settled a new library's name, the
    // export publishes the new library under the old name, by design; that
    // race is left to the idle syncs, which meet it by themselves.)
    const auto confirmed = manager_->state().confirmedLibraryName;
    if (!hostRunning() || confirmed == libraries_[current_].name) {
      ++counters_.syncRequests;
      manager_->sync("manual");
    }
  } else if (roll < 190) {
    if (!syncing) {
      ++counters_.switches;
      switchLibrary((current_ + 1 + random_() % (libraries_.size() - 1)) % libraries_.size());
    }
  } else if (roll < 220) {
    if (hostRunning()) {
      ++counters_.quits;
      quitHost();
    }
  } else if (roll < 300) {
    if (!hostRunning()) {
      ++counters_.relaunches;
      launchHost();
    } else {
      ++counters_.activations;
      workspace_.activate(kHost);
    }
  } else if (roll < 330) {
    // Switch a known library off, as the Libraries submenu does.
    const auto known = manager_->knownLibraries();
    if (!known.empty()) {
      const std::string name = known[random_() % known.size()];
      if (manager_->isLibraryEnabled(name)) {
        ++counters_.disables;
        manager_->switchOffLibrary(name);
      }
    }
  } else if (roll < 360) {
    const auto known = manager_->knownLibraries();
    if (!known.empty()) {
      const std::string name = known[random_() % known.size()];
      if (!manager_->isLibraryEnabled(name)) {
        ++counters_.enables;
        manager_->setLibraryEnabled(name, true);
        manager_->notifyStatusChanged();
      }
    }
  } else if (roll < 370) {
    // A library folder disappears for a while (moved away, disk unplugged).
    const HostLibrary& library = libraries_[random_() % libraries_.size()];
    if (&library != &libraries_[current_] && !removedFolders_.count(library.name)) {
      std::error_code ec;
      fs::remove_all(library.folder, ec);
      ++counters_.foldersRemoved;
      removedFolders_[library.name] = now + std::chrono::seconds(5 + random_() % 20);
    }
  }
}

void Driver::switchLibrary(std::size_t index) {
  current_ = index;
  const HostLibrary& library = libraries_[index];
  std::error_code ec;
  fs::create_directories(library.folder / "assets", ec);
  removedFolders_.erase(library.name);
  writeState(simState_ / "export.json", library.exportText);
  writeState(simState_ / "name.txt", library.name + "\n");
}

void Driver::refresh() {
  ++counters_.statusRefreshes;
  const engine::ExportState state = manager_->state();
  (void)state;
  if (manager_->currentLibrarySyncDate()) ++counters_.refreshesWithDate;
}

// The simulator answers as a host that is not running while "not-running"
// is in its state folder; the workspace tells the engine.
void Driver::launchHost() {
  fs::remove(simState_ / "not-running");
  workspace_.launch(kHost);
  workspace_.activate(kHost);
}

void Driver::quitHost() {
  std::ofstream(simState_ / "not-running") << "";
  workspace_.quit(kHost);
  workspace_.terminate(kHost);
}

bool Driver::hostRunning() const {
  const auto running = workspace_.runningBundleIdentifiers();
  return std::find(running.begin(), running.end(), std::optional<std::string>(kHost)) != running.end();
}

}  // namespace quillory::soak
