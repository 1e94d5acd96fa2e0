// The manager's side of library maintenance: the last-sync date of the status
// line, and the records, pruning and deletion of the libraries layer called
// with the manager's settings, log and home folder.

#include <algorithm>
#include <utility>

#include "engine/ExportManager.h"
#include "libraries/LibraryContext.h"
#include "libraries/LibraryKeys.h"
#include "libraries/Pruning.h"
#include "platform/Dispatcher.h"
#include "platform/Files.h"
#include "platform/Iso8601.h"
#include "platform/Log.h"
#include "platform/Unicode.h"
#include "publish/ContainerPaths.h"

namespace quillory::engine {

namespace {
// The longest update marker read: its timestamp with room for white space
// around it.
constexpr std::size_t kLongestMarker = 64;
}  // namespace

libraries::LibraryContext ExportManager::libraryContext() const {
  return libraries::LibraryContext{env_.defaults, env_.log, env_.home, &publishMutex_};
}

// Read from the update marker of the current library's published document in
// the container Documents folder, never from anywhere else: a filename record
// that is not a plain file name (a "/" in it, "." or "..") counts as missing.
std::optional<platform::Date> ExportManager::currentLibrarySyncDate() const {
  const std::optional<std::string> name = currentLibraryName();
  return name ? librarySyncDate(*name) : std::nullopt;
}

std::optional<platform::Date> ExportManager::librarySyncDate(const std::string& name) const {
  const std::optional<std::string> documentName =
      env_.defaults.value(libraries::libraryFilenameKey(name)).asString();
  if (!documentName || documentName->empty() || !publish::isPlainFileName(*documentName)) {
    return std::nullopt;
  }
  const std::string markerName = publish::markerNameFor(*documentName);
  if (!publish::isPlainFileName(markerName)) return std::nullopt;

  // A marker holds one timestamp of about 20 bytes: only a short prefix is
  // read, and a longer file holds no valid date.
  std::string bytes;
  const bool read = platform::files::readFileInChunks(
      publish::containerDocumentsFolder(env_.home) / markerName, [&bytes](std::string_view chunk) {
        bytes.append(chunk.substr(0, kLongestMarker + 1 - bytes.size()));
        return bytes.size() <= kLongestMarker;
      });
  if (!read || !platform::isValidUtf8(bytes)) return std::nullopt;
  return platform::parseIso8601(platform::trimmedWhitespaceAndNewlines(bytes));
}

void ExportManager::pruneLibraries() {
  if (libraries::pruneLibraries(libraryContext())) notifyStatusChanged();
}

bool ExportManager::deleteLibraryFiles(const std::string& libraryName) {
  std::lock_guard publish(publishMutex_);
  return libraries::deleteLibraryFiles(libraryContext(), libraryName);
}

// The answer is stored first and the files deleted only once it is: a
// library whose "off" is not on disk keeps its files, since the next sync
// would publish it again anyway.
ExportManager::SwitchOff ExportManager::switchOffLibrary(const std::string& name) {
  return switchOff(name, std::nullopt);
}

ExportManager::SwitchOff ExportManager::switchOff(const std::string& name,
                                                  std::optional<std::uint64_t> queued) {
  SwitchOff result;
  {
    std::lock_guard publish(publishMutex_);
    result.stored = queued ? storeQueuedAnswer(*queued, name, false)
                           : env_.defaults.setBool(libraries::syncLibraryKey(name), false);
    if (result.stored) result.filesRemoved = libraries::deleteLibraryFiles(libraryContext(), name);
  }
  if (!result.stored) {
    const std::string warning = "Could not switch off '" + name + "': " + *result.stored.failure;
    {
      std::lock_guard lock(mutex_);
      unstoredSwitchOffs_[name] = warning;
    }
    reportStoreFailure(warning);
    return result;
  }
  {
    std::lock_guard lock(mutex_);
    unstoredSwitchOffs_.erase(name);
  }
  notifyStatusChanged();
  return result;
}

// One worker at a time applies the queued changes, so they reach the
// settings and the disk in the order the user made them; it stops when the
// queue is empty. A change leaves the queue only once applied, so the menu
// shows it until then.
void ExportManager::requestLibrarySync(const std::string& name, bool enabled,
                                       NotStoredHandler whenNotStored) {
  bool startWorker = false;
  {
    std::lock_guard lock(mutex_);
    libraryChanges_.push_back(
        LibraryChange{++lastLibraryChange_, name, enabled, false, std::move(whenNotStored)});
    startWorker = !std::exchange(applyingLibraryChanges_, true);
  }
  if (!startWorker) return;
  env_.dispatcher.global(platform::QualityOfService::background, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->applyLibraryChanges();
  });
}

void ExportManager::applyLibraryChanges() {
  for (;;) {
    LibraryChange change;
    {
      std::lock_guard lock(mutex_);
      if (libraryChanges_.empty()) {
        applyingLibraryChanges_ = false;
        libraryChangesApplied_.notify_all();
        return;
      }
      change = libraryChanges_.front();
    }
    if (change.enabled) {
      (void)storeAnswer(change.name, true, change.id);  // a failure is reported by it
    } else {
      // Failures are reported by it; the one who asked hears of one that
      // could not be stored.
      const SwitchOff result = switchOff(change.name, change.id);
      if (!result.stored && change.whenNotStored) {
        env_.dispatcher.async([handler = std::move(change.whenNotStored), reason = *result.stored.failure] {
          handler(reason);
        });
      }
    }
    {
      std::lock_guard lock(mutex_);
      libraryChanges_.pop_front();
    }
    notifyStatusChanged();
  }
}

platform::StoreResult ExportManager::storeQueuedAnswer(std::uint64_t id, const std::string& name,
                                                       bool enabled) {
  std::lock_guard answers(answersMutex_);
  {
    std::lock_guard lock(mutex_);
    const auto change = std::find_if(libraryChanges_.begin(), libraryChanges_.end(),
                                     [id](const LibraryChange& c) { return c.id == id; });
    if (change != libraryChanges_.end() && change->stored) return {};
  }
  platform::StoreResult stored = env_.defaults.setBool(libraries::syncLibraryKey(name), enabled);
  std::lock_guard lock(mutex_);
  for (LibraryChange& change : libraryChanges_) {
    if (change.id == id) change.stored = stored.stored();
  }
  return stored;
}

bool ExportManager::storeQueuedAnswers() {
  std::lock_guard answers(answersMutex_);
  platform::DefaultsChange change;
  std::uint64_t last = 0;
  {
    std::lock_guard lock(mutex_);
    for (const LibraryChange& queued : libraryChanges_) {
      if (queued.stored) continue;
      change.setBool(libraries::syncLibraryKey(queued.name), queued.enabled);  // a later one wins
      last = queued.id;
    }
  }
  if (change.empty()) return true;
  if (const platform::StoreResult stored = env_.defaults.apply(change); !stored) {
    env_.log.line("[Helper] \u2717 Could not save the libraries switched on or off: " + *stored.failure);
    return false;
  }
  std::lock_guard lock(mutex_);
  for (LibraryChange& queued : libraryChanges_) {
    if (queued.id <= last) queued.stored = true;
  }
  return true;
}

bool ExportManager::finishLibraryChanges(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return libraryChangesApplied_.wait_for(lock, limit,
                                         [this] { return !applyingLibraryChanges_ && !storingAutoSync_; });
}

}  // namespace quillory::engine
