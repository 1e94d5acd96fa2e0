#pragma once
// The sync engine's single object: settings and run state, status reporting,
// the triggers, the opt-in registry and the export run.
//
// State is guarded by one mutex; `state()` and the accessors return copies.
// No call leaves the manager (settings store, log, dispatcher, alerts, hook)
// while that mutex is held. Every closure given to the dispatcher or the
// workspace holds the manager weakly, so the manager must be owned by a
// std::shared_ptr (use `create`); the composition root owns it.
//
// Threading: the menu reads and the commands run on the main thread; checks
// run on the background queue, export runs on the user-initiated queue.
// `onStatusChanged` is only ever called on the main thread, and never from
// inside `notifyStatusChanged`. The calls marked "main thread" assert it.
//
// Two export runs never overlap. `sync` claims a single run slot (a flag
// under the state mutex) in the same locked step in which it tests
// `isSyncing`; the slot stays claimed while the opt-in question is open and
// for the whole run, and any `sync` that finds it claimed returns at once
// without a trace. A declined or abandoned question gives the slot back
// without touching `isSyncing` or `lastError`. See ExportRun.cpp.
//
// The publish decision. Nothing is written without the user's yes, a
// switched-off library keeps nothing published, and no library's document
// replaces another's, whatever runs at the same time: the export run decides
// at write time, under the publish lock, which switch-off, deletion and
// pruning also take. The export is bracketed by the library-name script
// (the same name before and after it, or none twice for the folder's name);
// that name's stored answer must be true (a missing one is asked on the main
// thread first, with the lock released). The conflict read, the container
// scan and the temporary files come before the lock; under it the answer is
// read, the conflict read confirmed, the files renamed into place and the
// records written. The lock is never held while the main thread is waited
// for, and the main thread never takes it: the menu's switch-on and
// switch-off run on the background queue. See ExportRun.cpp.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/AutomationGate.h"
#include "engine/IdleRule.h"
#include "engine/LibraryNameTracker.h"
#include "libraries/LibraryKeys.h"
#include "platform/AlertPresenter.h"
#include "platform/Defaults.h"
#include "publish/ExportError.h"

namespace quillory::platform {
class AutomationPermission;
class Clock;
class Dispatcher;
class Log;
class Workspace;
}  // namespace quillory::platform

namespace quillory::bridge {
class ScriptRunner;
}

namespace quillory::libraries {
struct LibraryContext;
}

namespace quillory::engine {

// The settings keys. Per-library keys are a prefix followed directly by the
// library name.
inline constexpr const char* kAutoSyncEnabledKey = "autoSyncEnabled";
inline constexpr const char* kLastSyncDateKey = "lastSyncDate";
using libraries::kLibraryFilenamePrefix;
using libraries::kLibraryPathPrefix;
using libraries::kSyncLibraryPrefix;

using publish::ExportError;
using publish::ExportErrorCode;

// Everything outside the engine, owned by the composition root.
struct Environment {
  platform::Defaults& defaults;
  platform::Dispatcher& dispatcher;
  platform::Clock& clock;
  platform::Log& log;
  platform::Workspace& workspace;
  platform::AlertPresenter& alerts;
  bridge::ScriptRunner& scripts;
  std::filesystem::path home;
  // The permission to control the host, asked for before the scripts run
  // (see AutomationGate.h); none: always granted.
  platform::AutomationPermission* automation = nullptr;
  // After a successful run, tell the user when iCloud Drive seems off
  // (publish::iCloudDriveSeemsOff): the result line and `lastError` (and so
  // the status line) carry kICloudDriveSeemsOff. On macOS, where iCloud
  // Drive carries the documents to the phone.
  bool warnWhenICloudDriveOff = false;
};

inline constexpr const char* kICloudDriveSeemsOff =
    "iCloud Drive seems off on this Mac: turn it on in System Settings \u203A Apple Account \u203A iCloud, "
    "or the phone will not see this library";

// A copy of the manager's state: its own fields, the names of the name
// tracker and the idle rule's times (monotonic readings: intervals only).
struct ExportState {
  bool autoSyncEnabled = true;
  bool isSyncing = false;
  std::optional<platform::Date> lastSyncDate;
  std::optional<std::string> currentLibraryName;
  std::optional<std::string> lastError;
  std::optional<std::string> knownLibraryName;
  std::optional<std::string> pendingLibraryName;
  std::optional<std::string> confirmedLibraryName;
  platform::MonotonicTime lastKLActiveDate;
  std::optional<platform::MonotonicTime> lastExportDate;  // none: no export in this process
  bool idleTriggered = false;
  // Why no script can run here, when the last check found no script
  // launcher (Linux without a stand-in for osascript): the message of
  // `noScriptLauncher`, which a sync then fails with.
  std::optional<std::string> launcherProblem;
  // The last export run that published or failed: runs are counted from 1
  // (0: none has ended yet); whether the user started it ("Sync Now"); its
  // status text when it failed.
  std::uint64_t runsEnded = 0;
  bool lastRunCausedByUser = false;
  std::optional<std::string> lastRunFailure;
  // A switch-off from the menu that could not be stored ("Could not switch
  // off 'Name': <reason>"): kept until that library's switch-off is stored
  // or it is switched on again, so that a later sync does not hide it.
  std::optional<std::string> switchOffWarning;
};

// How the last sync ended: published, skipped (switched off, declined, or
// the library changed during the export; nothing written), unanswered (the
// first-sync question got no answer: nobody could be asked, or the program is
// ending; nothing stored or written) or failed.
enum class RunOutcome { none, published, skipped, unanswered, failed };

// The outcome of the first-sync question for a library: the stored yes or
// no; no answer (nothing stored); or an answer that could not be stored
// (nothing stored, so nothing may be published; the failure is logged and
// shown).
enum class OptIn { yes, no, unanswered, notStored };

// Thrown when an export ends without writing anything and without failing
// (the library is switched off, or the host changed library during the
// export). The line that says why has been written. `unanswered`: the
// first-sync question got no answer.
struct ExportSkipped {
  bool unanswered = false;
};

// The first-sync alert for a library.
platform::Alert firstSyncAlert(const std::string& libraryName);
// The name-conflict alert: another library's document (at `existingPath`)
// already has the file name the library `name` (at `newPath`) publishes to.
// A line break inside either path is shown as U+2424, so each path stays on
// its own line.
platform::Alert nameConflictAlert(const std::string& name, const std::string& existingPath,
                                  const std::string& newPath);

class ExportManager : public std::enable_shared_from_this<ExportManager> {
 public:
  using StatusHook = std::function<void()>;

  // Builds a manager and initialises it from the settings (see
  // ExportManager.cpp). Tests build one per case on fakes.
  static std::shared_ptr<ExportManager> create(Environment environment);

  // Constants.
  static constexpr const char* klBundleID = "test.kettleledger.desktop2";

  // Reads (copies; any thread).
  ExportState state() const;
  bool isSyncing() const;
  // Whether a run is under way or still to start (the first-sync answer is
  // being stored off the main thread): who waits for a run's outcome waits
  // for this, since a run skipped on a fresh "Don't Sync" never syncs.
  bool isRunPending() const;
  bool autoSyncEnabled() const;
  std::optional<std::string> currentLibraryName() const;
  std::optional<std::string> lastError() const;
  std::optional<platform::Date> lastSyncDate() const;
  RunOutcome lastOutcome() const;

  // The "Auto-sync" command: flips the setting and has it stored under
  // "autoSyncEnabled" on the background queue (the main thread never waits
  // for the settings file); no notification, `idleTriggered` untouched.
  // Returns the new value. Any thread.
  bool toggleAutoSync();

  // Status reporting.
  void setOnStatusChanged(StatusHook hook);
  // Queues one call of the hook on the main queue (if one is set when it
  // runs); never calls it inside this call. Any thread.
  void notifyStatusChanged();
  // Calls the hook now, if set: the 60-second refresh timer. Main thread.
  void callStatusHookNow();

  // Triggers.
  void startMonitoring();  // main thread, once
  // Runs a check on the background queue, unless one is running or waiting:
  // then one more runs after it (see SyncTriggers.cpp).
  void scheduleCheck();
  void periodicCheck();  // background queue
  // The part of a check that only reads: the look at the script launcher, the
  // host test and the library-name script with its name tracking (no
  // pruning, no idle sync). Returns whether the host runs and may be asked
  // (false while the permission to control it is being asked for).
  // Background queue.
  bool checkLibraryName();
  // Workspace handlers: act only when the bundle identifier is exactly
  // `klBundleID`. Main thread.
  void klDidQuit(const std::optional<std::string>& bundleIdentifier);
  void appDidActivate(const std::optional<std::string>& bundleIdentifier);
  bool isHostRunning() const;

  // Opt-in registry.
  bool isLibraryEnabled(const std::string& name) const;
  // The bool stored under "sync_library_<name>"; none when absent or of
  // another type. Any thread.
  std::optional<bool> storedAnswer(const std::string& name) const;
  std::vector<std::string> knownLibraries() const;
  // The first-sync question, main thread: the stored answer, or the user's,
  // which is not stored yet (`toStore`): the caller stores it off the main
  // thread with `storeAnswer`. A stored answer that cannot be read is
  // `notStored` (reported).
  struct Asked {
    OptIn answer = OptIn::unanswered;
    bool toStore = false;
  };
  Asked confirmSync(const std::string& libraryName);
  // Stores the user's yes or no (not on the main thread: it may wait for the
  // settings file's lock) and notifies; `notStored` when it cannot be (logged
  // and shown).
  OptIn storeAnswer(const std::string& libraryName, OptIn answer);
  // Stores the per-library answer (switching a library on); the caller
  // notifies. When it cannot be stored, logs "✗ Could not switch on 'Name':
  // <reason>", shows the reason as the status line's error and notifies.
  platform::StoreResult setLibraryEnabled(const std::string& name, bool enabled);
  // Switching a library off (the Libraries submenu and the CLI's disable):
  // in one step under the publish lock, stores false and, only once it is
  // stored, deletes everything published of it; notifies. When false cannot
  // be stored nothing is deleted: "✗ Could not switch off 'Name': <reason>"
  // is logged and shown as the status line's error. Any thread.
  struct SwitchOff {
    platform::StoreResult stored;
    bool filesRemoved = false;  // false also when a file could not be removed (its line says why)
  };
  SwitchOff switchOffLibrary(const std::string& name);
  // The Libraries submenu's command, once confirmed: queues switching the
  // library on (`setLibraryEnabled`, then a notification) or off
  // (`switchOffLibrary`). Queued changes run on the background queue, one at
  // a time, in the order asked; until a change has run, `isLibraryEnabled`
  // answers with it. A switch-off that could not be stored calls
  // `whenNotStored` with the reason on the main queue. Returns at once; any
  // thread.
  using NotStoredHandler = std::function<void(const std::string& reason)>;
  void requestLibrarySync(const std::string& name, bool enabled, NotStoredHandler whenNotStored = {});
  // Waits until the queued changes (and the Auto-sync setting) have been
  // applied, at most `limit`; true when none is left. For the end of the program, once the main loop has
  // ended: quitting right after "Remove" still removes.
  bool finishLibraryChanges(std::chrono::milliseconds limit);
  // For the end of the program (Quit, or a signal): stores the answer of
  // every queued change not stored yet, in one settings change, without
  // waiting for the changes before them (a slow deletion); the worker then
  // only deletes, and what it cannot finish is left to the next start's
  // pruning pass. Takes milliseconds; never the publish lock. False when
  // the answers could not be stored (logged). The signal's thread, or the
  // main thread once the main loop has ended.
  bool storeQueuedAnswers();

  // The program is ending (Quit, a signal): a run that fails from here on was
  // stopped by that, and says so instead of blaming the host. Any thread.
  void prepareToQuit();

  // The export run: returns at once when a sync is running or being asked
  // about; any thread (the opt-in question is answered on the main thread).
  void sync(const std::string& reason);
  // One export (ExportPipeline.cpp); the destination count or throws
  // (`ExportSkipped` when it wrote nothing on purpose). `settled`:
  // the names whose yes this sync has already obtained. Background queue
  // only.
  int exportLibrary(std::vector<std::string> settled = {});

  // Library maintenance.
  // The instant in the update marker of the current library, or of `name`;
  // none when there is no such marker.
  std::optional<platform::Date> currentLibrarySyncDate() const;
  std::optional<platform::Date> librarySyncDate(const std::string& name) const;
  // One pruning pass; one status notification when it pruned something.
  void pruneLibraries();
  // Under the publish lock; false when a file could not be removed.
  bool deleteLibraryFiles(const std::string& libraryName);

  const Environment& environment() const { return env_; }
  // The Documents folder of the mobile app's iCloud Drive container, where
  // the published files are.
  std::filesystem::path publishedFolder() const;

  explicit ExportManager(Environment environment);  // use create()
  ExportManager(const ExportManager&) = delete;
  ExportManager& operator=(const ExportManager&) = delete;

 private:
  class RunSlot;

  void runExport(const std::string& reason, const std::vector<std::string>& settled);
  // The part of `sync` after the question: the skip, or the run handed over
  // to the user-initiated queue (run here when already on it).
  void startRun(const std::string& reason, const std::optional<std::string>& libraryName, OptIn answer,
                RunSlot& slot, bool onRunQueue = false);
  std::optional<Asked> askOnMain(const std::string& libraryName);
  // Stores `autoSyncEnabled` as it is now, again while it changes meanwhile;
  // on the background queue.
  void storeAutoSync();
  // Logs "[Helper] ✗ " + text, makes it the status line's error and notifies.
  void reportStoreFailure(const std::string& text);
  enum class PublishDecision { publish, skip, ask, unreadable };
  // The stored answer of `name` as the export decides on it; called with the
  // publish lock held. `settled`: the names this sync has had a yes for.
  PublishDecision storedDecision(const std::string& name, const std::vector<std::string>& settled) const;
  void setOutcome(RunOutcome outcome);
  bool runCausedByUser() const;
  void applyLibraryChanges();
  // Stores the answer of the queued change `id` (the worker's current one)
  // unless `storeQueuedAnswers` has stored it already.
  platform::StoreResult storeQueuedAnswer(std::uint64_t id, const std::string& name, bool enabled);
  SwitchOff switchOff(const std::string& name, std::optional<std::uint64_t> queued);
  platform::StoreResult storeAnswer(const std::string& name, bool enabled,
                                    std::optional<std::uint64_t> queued);
  libraries::LibraryContext libraryContext() const;

  struct Fields {
    bool autoSyncEnabled = true;
    bool isSyncing = false;
    std::optional<platform::Date> lastSyncDate;
    std::optional<std::string> lastError;
    std::optional<std::string> launcherProblem;
  };

  Environment env_;
  mutable std::mutex mutex_;
  Fields state_;                               // guarded by mutex_
  LibraryNameTracker names_;                   // guarded by mutex_
  IdleRule idle_;                              // guarded by mutex_
  StatusHook onStatusChanged_;                 // guarded by mutex_
  bool runSlotClaimed_ = false;                // guarded by mutex_; see ExportRun.cpp
  bool checkScheduled_ = false;                // guarded by mutex_; see SyncTriggers.cpp
  bool checkAgain_ = false;                    // guarded by mutex_
  RunOutcome lastOutcome_ = RunOutcome::none;  // guarded by mutex_
  // The name check met a refused authorization and said so; cleared by a
  // check that is not refused.
  bool refusalLogged_ = false;  // guarded by mutex_
  // Whether the user asked for the run holding the slot ("Sync Now"): its
  // alerts may take the keyboard; an idle sync's may not.
  bool runCausedByUser_ = true;  // guarded by mutex_
  // The menu's switch-ons and switch-offs not yet applied, oldest first; the
  // first is being applied while `applyingLibraryChanges_` is set.
  struct LibraryChange {
    std::uint64_t id = 0;  // in the order asked
    std::string name;
    bool enabled = false;
    bool stored = false;  // its answer is in the settings
    NotStoredHandler whenNotStored;
  };
  std::deque<LibraryChange> libraryChanges_;  // guarded by mutex_
  std::uint64_t lastLibraryChange_ = 0;       // guarded by mutex_
  bool applyingLibraryChanges_ = false;       // guarded by mutex_
  bool storingAutoSync_ = false;              // guarded by mutex_
  bool autoSyncChosen_ = false;               // guarded by mutex_: toggled by the user
  // Held while queued answers are stored (by the worker, one, or by
  // `storeQueuedAnswers`, all), so that each is stored once and in order.
  // Taken before `mutex_`, never inside it.
  std::mutex answersMutex_;
  // The switch-offs that could not be stored, by library: their warnings.
  std::map<std::string, std::string> unstoredSwitchOffs_;  // guarded by mutex_
  // Ended runs (see ExportState).
  std::uint64_t runsEnded_ = 0;                    // guarded by mutex_
  bool lastRunCausedByUser_ = false;               // guarded by mutex_
  bool quitting_ = false;                          // guarded by mutex_
  std::optional<std::string> lastRunFailure_;      // guarded by mutex_
  std::condition_variable libraryChangesApplied_;  // when the worker stops
  // The publish lock (see above). Taken before, never inside, `mutex_`.
  mutable std::mutex publishMutex_;
  AutomationGate automation_;
};

}  // namespace quillory::engine
