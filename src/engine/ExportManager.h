#pragma once
// The sync engine's single object: settings and run state, status reporting,
// the triggers, the opt-in registry and the export run.
//
// State is guarded by one mutex; `state()` returns a copy. Every closure given
// to the dispatcher or the workspace holds the manager weakly, so the manager
// must be owned by a std::shared_ptr (use `create`).
//
// Threading: the menu reads and the commands run on the main thread; checks
// run on the background queue, export runs on the user-initiated queue.
// `onStatusChanged` is only ever called on the main thread.

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Defaults.h"

namespace quillory::platform {
class AlertPresenter;
class Clock;
class Dispatcher;
class Log;
class Workspace;
}  // namespace quillory::platform

namespace quillory::bridge {
class ScriptRunner;
}

namespace quillory::engine {

inline constexpr const char* kAutoSyncEnabledKey = "autoSyncEnabled";
inline constexpr const char* kLastSyncDateKey = "lastSyncDate";

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
};

// A copy of the manager's fields, in their declaration order.
struct ExportState {
  bool autoSyncEnabled = true;
  bool isSyncing = false;
  std::optional<platform::Date> lastSyncDate;
  std::optional<std::string> currentLibraryName;
  std::optional<std::string> lastError;
  std::optional<std::string> knownLibraryName;
  std::optional<std::string> pendingLibraryName;
  std::optional<std::string> confirmedLibraryName;
  platform::Date lastKLActiveDate;
  platform::Date lastExportDate;
  bool idleTriggered = false;
};

class ExportManager : public std::enable_shared_from_this<ExportManager> {
 public:
  using StatusHook = std::function<void()>;

  static std::shared_ptr<ExportManager> create(Environment environment);

  // The process-wide instance for the application: created on the first call
  // (thread-safe, once) from `environment`; later calls return it unchanged.
  static std::shared_ptr<ExportManager> shared(const std::function<Environment()>& environment);

  // Constants.
  static constexpr const char* klBundleID = "test.kettleledger.desktop2";
  static constexpr const char* iOSBundleID = "test.quillory.mobile";
  static const std::set<std::string>& keepFields();

  ExportState state() const;
  bool isSyncing() const;
  bool autoSyncEnabled() const;
  std::optional<std::string> currentLibraryName() const;
  std::optional<std::string> lastError() const;

  // The "Auto-sync" command: flips the setting and stores it; no notification.
  void toggleAutoSync();

  // Status reporting.
  void setOnStatusChanged(StatusHook hook);
  void notifyStatusChanged();
  void callStatusHookNow();  // the 60-second refresh timer; main thread

  // Triggers.
  void startMonitoring();
  void scheduleCheck();
  void periodicCheck();
  void klDidQuit(const std::optional<std::string>& bundleIdentifier);
  void appDidActivate(const std::optional<std::string>& bundleIdentifier);
  bool isHostRunning() const;

  // Opt-in registry.
  bool isLibraryEnabled(const std::string& name) const;
  std::vector<std::string> knownLibraries() const;
  bool confirmSync(const std::string& libraryName);  // main thread
  void setLibraryEnabled(const std::string& name, bool enabled);

  // The export run.
  void sync(const std::string& reason);
  int exportLibrary();

  // Library maintenance.
  std::optional<platform::Date> currentLibrarySyncDate() const;
  std::optional<std::string> recoverLibraryPath(const std::string& libraryName);
  void pruneLibraries();
  void deleteLibraryFiles(const std::string& libraryName);

  const Environment& environment() const { return env_; }

  explicit ExportManager(Environment environment);  // use create()

 private:
  void runExport(const std::string& reason);
  void setLastSyncDate(platform::Date date);

  Environment env_;
  mutable std::mutex mutex_;
  ExportState state_;
  StatusHook onStatusChanged_;
};

}  // namespace quillory::engine
