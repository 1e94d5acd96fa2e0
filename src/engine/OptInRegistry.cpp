// The per-library opt-in: the stored answers and the first-sync question.
// Reading the registry is the libraries layer's; this file adds the question.

#include <cassert>

#include "engine/ExportManager.h"
#include "libraries/LibraryKeys.h"
#include "libraries/LibraryRegistry.h"
#include "platform/Dispatcher.h"

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
  return libraries::isLibraryEnabled(env_.defaults, name);
}

std::vector<std::string> ExportManager::knownLibraries() const {
  return libraries::knownLibraries(env_.defaults);
}

// A stored bool answers at once. Anything else (absent, another type) asks
// the user; the answer is stored as a bool so the question is never repeated
// for this name while the key exists. An alert abandoned because the program
// is ending is no answer (none): nothing is stored or said, and the question
// comes again at the next start.
std::optional<bool> ExportManager::confirmSync(const std::string& libraryName) {
  assert(env_.dispatcher.isMainThread());
  const std::string key = libraries::syncLibraryKey(libraryName);
  if (const std::optional<bool> stored = env_.defaults.value(key).asBool()) return *stored;

  const int button = env_.alerts.run(firstSyncAlert(libraryName));
  if (button == platform::kAlertAbandoned) return std::nullopt;
  const bool answer = button == 0;
  env_.defaults.setBool(key, answer);
  notifyStatusChanged();
  return answer;
}

void ExportManager::setLibraryEnabled(const std::string& name, bool enabled) {
  std::lock_guard publish(publishMutex_);
  env_.defaults.setBool(libraries::syncLibraryKey(name), enabled);
}

}  // namespace quillory::engine
