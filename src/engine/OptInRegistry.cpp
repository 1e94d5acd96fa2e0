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

std::optional<bool> ExportManager::storedAnswer(const std::string& name) const {
  return env_.defaults.value(libraries::syncLibraryKey(name)).asBool();
}

std::vector<std::string> ExportManager::knownLibraries() const {
  return libraries::knownLibraries(env_.defaults);
}

// A stored bool answers at once. Anything else (absent, another type) asks
// the user; the caller stores the answer as a bool (`storeAnswer`, off the
// main thread, which never waits for the settings file's lock), so the
// question is never repeated for this name while the key exists. An alert
// that ended without an answer (nobody could be asked, or the program is
// ending) stores nothing, and the question comes again. An answer that
// cannot be read (the settings file is being saved by another program) asks
// nothing and counts as none stored: nothing may be published on it.
ExportManager::Asked ExportManager::confirmSync(const std::string& libraryName) {
  assert(env_.dispatcher.isMainThread());
  const platform::DefaultsValue stored = env_.defaults.value(libraries::syncLibraryKey(libraryName));
  if (stored.isUnreadable()) {
    reportStoreFailure("Could not read the answer for '" + libraryName +
                       "': the settings cannot be read now");
    return {OptIn::notStored};
  }
  if (const std::optional<bool> answer = stored.asBool()) return {*answer ? OptIn::yes : OptIn::no};

  platform::Alert alert = firstSyncAlert(libraryName);
  alert.causedByUser = runCausedByUser();
  const int button = env_.alerts.run(alert);
  if (button == platform::kAlertAbandoned) return {OptIn::unanswered};
  return {button == 0 ? OptIn::yes : OptIn::no, true};
}

// An answer that cannot be stored counts as none for publishing: it is
// reported, and the next sync asks again.
OptIn ExportManager::storeAnswer(const std::string& libraryName, OptIn answer) {
  const std::string key = libraries::syncLibraryKey(libraryName);
  if (const platform::StoreResult stored = env_.defaults.setBool(key, answer == OptIn::yes); !stored) {
    reportStoreFailure("Could not save the answer for '" + libraryName + "': " + *stored.failure);
    return OptIn::notStored;
  }
  notifyStatusChanged();
  return answer;
}

bool ExportManager::runCausedByUser() const {
  std::lock_guard lock(mutex_);
  return runCausedByUser_;
}

platform::StoreResult ExportManager::setLibraryEnabled(const std::string& name, bool enabled) {
  return storeAnswer(name, enabled, std::nullopt);
}

platform::StoreResult ExportManager::storeAnswer(const std::string& name, bool enabled,
                                                 std::optional<std::uint64_t> queued) {
  if (enabled) {  // switched on again: an earlier switch-off that was not stored is moot
    std::lock_guard lock(mutex_);
    unstoredSwitchOffs_.erase(name);
  }
  platform::StoreResult stored;
  {
    std::lock_guard publish(publishMutex_);
    stored = queued ? storeQueuedAnswer(*queued, name, enabled)
                    : env_.defaults.setBool(libraries::syncLibraryKey(name), enabled);
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
