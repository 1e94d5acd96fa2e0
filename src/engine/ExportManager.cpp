// The manager's state and settings: initialisation from the settings store,
// the accessors, the persistence of `lastSyncDate` and status reporting.

#include "engine/ExportManager.h"

#include <cassert>
#include <utility>

#include "platform/AutomationPermission.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/Log.h"
#include "publish/ContainerPaths.h"

namespace quillory::engine {

namespace {

// The permission where the environment names none.
platform::AutomationPermission& automationPermission(platform::AutomationPermission* given) {
  static platform::NoAutomationPermissionNeeded granted;
  return given ? *given : granted;
}

}  // namespace

// Initialisation: the run state and the names start empty; the idle rule
// takes the start as the host's last activation and knows no export. "autoSyncEnabled" is taken when it holds
// a bool; otherwise (absent or another type) the setting is on and true is
// written back. "lastSyncDate" is taken when it holds a date and left as it
// is otherwise; taking it writes nothing.
ExportManager::ExportManager(Environment environment)
    : env_(std::move(environment)),
      idle_(env_.clock.monotonicNow()),
      automation_(automationPermission(env_.automation), env_.log, klBundleID) {
  const platform::DefaultsValue storedAutoSync = env_.defaults.value(kAutoSyncEnabledKey);
  state_.autoSyncEnabled = storedAutoSync.asBool().value_or(true);
  // Written back on the background queue once the manager is made (a
  // settings file that cannot be read now is left alone). Not stored (a
  // store opened only to read, or one that cannot write): the setting is on
  // all the same and written back at a later start.
  storingAutoSync_ = !storedAutoSync.asBool() && !storedAutoSync.isUnreadable();
  state_.lastSyncDate = env_.defaults.value(kLastSyncDateKey).asDate();
}

std::shared_ptr<ExportManager> ExportManager::create(Environment environment) {
  auto manager = std::make_shared<ExportManager>(std::move(environment));
  if (manager->storingAutoSync_) {
    manager->env_.dispatcher.global(platform::QualityOfService::background,
                                    [weak = manager->weak_from_this()] {
                                      if (auto self = weak.lock()) self->storeAutoSync();
                                    });
  }
  return manager;
}

ExportState ExportManager::state() const {
  std::lock_guard lock(mutex_);
  const LibraryNames& names = names_.names();
  return ExportState{
      .autoSyncEnabled = state_.autoSyncEnabled,
      .isSyncing = state_.isSyncing,
      .lastSyncDate = state_.lastSyncDate,
      .currentLibraryName = names.current,
      .lastError = state_.lastError,
      .knownLibraryName = names.known,
      .pendingLibraryName = names.pending,
      .confirmedLibraryName = names.confirmed,
      .lastKLActiveDate = idle_.lastActive(),
      .lastExportDate = idle_.lastExport(),
      .idleTriggered = idle_.triggered(),
      .launcherProblem = state_.launcherProblem,
      .runsEnded = runsEnded_,
      .lastRunCausedByUser = lastRunCausedByUser_,
      .lastRunFailure = lastRunFailure_,
      .switchOffWarning =
          unstoredSwitchOffs_.empty() ? std::nullopt : std::optional(unstoredSwitchOffs_.begin()->second),
  };
}

std::filesystem::path ExportManager::publishedFolder() const {
  return publish::containerDocumentsFolder(env_.home);
}

bool ExportManager::isSyncing() const {
  std::lock_guard lock(mutex_);
  return state_.isSyncing;
}

bool ExportManager::isRunPending() const {
  std::lock_guard lock(mutex_);
  return state_.isSyncing || runSlotClaimed_;
}

bool ExportManager::autoSyncEnabled() const {
  std::lock_guard lock(mutex_);
  return state_.autoSyncEnabled;
}

std::optional<std::string> ExportManager::currentLibraryName() const {
  std::lock_guard lock(mutex_);
  return names_.names().current;
}

std::optional<std::string> ExportManager::lastError() const {
  std::lock_guard lock(mutex_);
  return state_.lastError;
}

std::optional<platform::Date> ExportManager::lastSyncDate() const {
  std::lock_guard lock(mutex_);
  return state_.lastSyncDate;
}

RunOutcome ExportManager::lastOutcome() const {
  std::lock_guard lock(mutex_);
  return lastOutcome_;
}

void ExportManager::setOutcome(RunOutcome outcome) {
  std::lock_guard lock(mutex_);
  lastOutcome_ = outcome;
}

bool ExportManager::toggleAutoSync() {
  bool enabled = false;
  bool startWorker = false;
  {
    std::lock_guard lock(mutex_);
    state_.autoSyncEnabled = !state_.autoSyncEnabled;
    enabled = state_.autoSyncEnabled;
    autoSyncChosen_ = true;
    startWorker = !std::exchange(storingAutoSync_, true);
  }
  if (startWorker) {
    env_.dispatcher.global(platform::QualityOfService::background, [weak = weak_from_this()] {
      if (auto self = weak.lock()) self->storeAutoSync();
    });
  }
  return enabled;
}

// One worker at a time; toggles made while it stores are stored after it,
// the last one last.
void ExportManager::storeAutoSync() {
  for (;;) {
    bool enabled = false;
    bool chosen = false;
    {
      std::lock_guard lock(mutex_);
      enabled = state_.autoSyncEnabled;
      chosen = autoSyncChosen_;
    }
    // Only a value the user chose is worth a failure line: the write-back of
    // the default at start is tried again at the next start (a store opened
    // only to read, as `status` and `libraries` open it, refuses it).
    const platform::StoreResult stored = env_.defaults.setBool(kAutoSyncEnabledKey, enabled);
    if (!stored && chosen) env_.log.line("[Helper] \u2717 Could not save Auto-sync: " + *stored.failure);
    std::lock_guard lock(mutex_);
    if (state_.autoSyncEnabled == enabled) {
      storingAutoSync_ = false;
      libraryChangesApplied_.notify_all();
      return;
    }
  }
}

void ExportManager::setOnStatusChanged(StatusHook hook) {
  std::lock_guard lock(mutex_);
  onStatusChanged_ = std::move(hook);
}

void ExportManager::notifyStatusChanged() {
  // Always through the main queue, also on the main thread, so that a caller
  // holding its own state never sees the menu rebuilt inside its call.
  env_.dispatcher.async([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->callStatusHookNow();
  });
}

void ExportManager::callStatusHookNow() {
  assert(env_.dispatcher.isMainThread());
  StatusHook hook;
  {
    std::lock_guard lock(mutex_);
    hook = onStatusChanged_;
  }
  if (hook) hook();
}

}  // namespace quillory::engine
