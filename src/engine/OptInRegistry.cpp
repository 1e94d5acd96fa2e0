// The per-library opt-in: the stored answers and the first-sync question.
// Reading the registry is the libraries layer's; this file adds the question.

#include <cassert>

#include "engine/ExportManager.h"
#include "libraries/LibraryKeys.h"
#include "libraries/LibraryRegistry.h"
#include "platform/Dispatcher.h"
#include "platform/Log.h"

namespace quillory::engine {

platform::Alert firstSyncAlert(const std::string& libraryName) {
  platform::Alert alert;
  alert.message = "Sync \"" + libraryName + "\" with Quillory?";
  alert.informativeText =
      "Quillory Helper will sync this library to your iPhone and iPad automatically. "
      "You can change this later in the Helper menu under Libraries.";
  alert.style = platform::AlertStyle::informational;
  alert.buttons = {"Sync", "Don't Sync"};
  return alert;
}

bool ExportManager::isLibraryEnabled(const std::string& name) const {
  {
    std::lock_guard lock(mutex_);
    for (auto change = libraryChanges_.rbegin(); change != libraryChanges_.rend(); ++change) {
      if (change->name == name) return change->enabled;
    }
  }
  return libraries::isLibraryEnabled(env_.defaults, name);
}

std::vector<std::string> ExportManager::knownLibraries() const {
  return libraries::knownLibraries(env_.defaults);
}

// A stored bool answers at once. Anything else (absent, another type) asks
// the user; the answer is stored as a bool so the question is never repeated
// for this name while the key exists. An alert that ended without an answer
// (nobody could be asked, or the program is ending) stores nothing, and the
// question comes again. An answer that cannot be stored counts as none for
// publishing: it is reported, and the next sync asks again.
OptIn ExportManager::confirmSync(const std::string& libraryName) {
  assert(env_.dispatcher.isMainThread());
  const std::string key = libraries::syncLibraryKey(libraryName);
  if (const std::optional<bool> stored = env_.defaults.value(key).asBool()) {
    return *stored ? OptIn::yes : OptIn::no;
  }

  platform::Alert alert = firstSyncAlert(libraryName);
  alert.causedByUser = runCausedByUser();
  const int button = env_.alerts.run(alert);
  if (button == platform::kAlertAbandoned) return OptIn::unanswered;
  const bool answer = button == 0;
  if (const platform::StoreResult stored = env_.defaults.setBool(key, answer); !stored) {
    reportStoreFailure("Could not save the answer for '" + libraryName + "': " + *stored.failure);
    return OptIn::notStored;
  }
  notifyStatusChanged();
  return answer ? OptIn::yes : OptIn::no;
}

bool ExportManager::runCausedByUser() const {
  std::lock_guard lock(mutex_);
  return runCausedByUser_;
}

platform::StoreResult ExportManager::setLibraryEnabled(const std::string& name, bool enabled) {
  if (enabled) {  // switched on again: an earlier switch-off that was not stored is moot
    std::lock_guard lock(mutex_);
    unstoredSwitchOffs_.erase(name);
  }
  platform::StoreResult stored;
  {
    std::lock_guard publish(publishMutex_);
    stored = env_.defaults.setBool(libraries::syncLibraryKey(name), enabled);
  }
  if (!stored) {
    reportStoreFailure("Could not switch " + std::string(enabled ? "on" : "off") + " '" + name +
                       "': " + *stored.failure);
  }
  return stored;
}

void ExportManager::reportStoreFailure(const std::string& text) {
  env_.log.line("[Helper] \u2717 " + text);
  {
    std::lock_guard lock(mutex_);
    state_.lastError = text;
  }
  notifyStatusChanged();
}

}  // namespace quillory::engine
