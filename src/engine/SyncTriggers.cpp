// When the engine syncs by itself: the workspace observers, the 10-second
// check with its name tracking, and the idle rule.
//
// Checks may overlap (an activation schedules one while a timer-started one
// still waits for its script). Each runs its steps in order, and each step
// that reads and writes the name or idle fields does so in one locked step,
// so overlapping checks never see one another's half-done updates and the
// idle rule's test-and-set of `idleTriggered` happens once per activation.

#include <algorithm>
#include <cmath>
#include <string>

#include "bridge/HostScripts.h"
#include "bridge/ScriptRunner.h"
#include "engine/ExportManager.h"
#include "libraries/LibraryKeys.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/Log.h"
#include "platform/Unicode.h"
#include "platform/Workspace.h"

namespace quillory::engine {

namespace {

constexpr double kCheckIntervalSeconds = 10.0;
constexpr double kStatusRefreshSeconds = 60.0;
constexpr double kIdleSeconds = 180.0;

// Library names compare under canonical equivalence; none equals none only.
bool sameName(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  if (!a || !b) return !a && !b;
  return platform::canonicallyEqual(*a, *b);
}

}  // namespace

void ExportManager::startMonitoring() {
  const std::weak_ptr<ExportManager> weak = weak_from_this();
  env_.workspace.observeTermination([weak](const std::optional<std::string>& bundleIdentifier) {
    if (auto self = weak.lock()) self->klDidQuit(bundleIdentifier);
  });
  env_.workspace.observeActivation([weak](const std::optional<std::string>& bundleIdentifier) {
    if (auto self = weak.lock()) self->appDidActivate(bundleIdentifier);
  });
  env_.dispatcher.repeatOnMain(kCheckIntervalSeconds, [weak] {
    if (auto self = weak.lock()) self->scheduleCheck();
  });
  env_.dispatcher.repeatOnMain(kStatusRefreshSeconds, [weak] {
    if (auto self = weak.lock()) self->callStatusHookNow();
  });
  scheduleCheck();
}

void ExportManager::scheduleCheck() {
  env_.dispatcher.global(platform::QualityOfService::background, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->periodicCheck();
  });
}

bool ExportManager::isHostRunning() const { return bridge::isHostRunning(env_.workspace, klBundleID); }

void ExportManager::klDidQuit(const std::optional<std::string>& bundleIdentifier) {
  if (bundleIdentifier != klBundleID) return;
  {
    std::lock_guard lock(mutex_);
    state_.currentLibraryName.reset();
    state_.knownLibraryName.reset();
    state_.pendingLibraryName.reset();
    state_.confirmedLibraryName.reset();
  }
  notifyStatusChanged();
}

void ExportManager::appDidActivate(const std::optional<std::string>& bundleIdentifier) {
  if (bundleIdentifier != klBundleID) return;
  const platform::Date now = env_.clock.now();
  {
    std::lock_guard lock(mutex_);
    state_.lastKLActiveDate = now;
    state_.idleTriggered = false;
  }
  scheduleCheck();
}

void ExportManager::periodicCheck() {
  pruneLibraries();
  if (!checkLibraryName()) return;
  if (const std::optional<std::string> reason = takeIdleReason()) sync(*reason);
}

bool ExportManager::checkLibraryName() {
  if (!isHostRunning()) {
    bool cleared = false;
    {
      std::lock_guard lock(mutex_);
      if (state_.currentLibraryName) {
        state_.currentLibraryName.reset();
        cleared = true;
      }
    }
    if (cleared) notifyStatusChanged();
    return false;
  }

  const bridge::ScriptResult result =
      env_.scripts.run(std::string(bridge::kLibraryNameScript), bridge::kLibraryNameTimeoutSeconds);
  bool firstRefusal = false;
  {
    std::lock_guard lock(mutex_);
    firstRefusal = result.notAuthorized && !refusalLogged_;
    refusalLogged_ = result.notAuthorized;
  }
  // Said once, not at every check, until a check is allowed again.
  if (firstRefusal) {
    env_.log.line(
        "[Helper] \u26A0 Not allowed to control Kettle Ledger \u2014 System Settings \u203A Privacy & "
        "Security "
        "\u203A Automation");
  }
  if (trackLibraryName(libraries::usableLibraryName(result.output))) notifyStatusChanged();
  return true;
}

// A new name shows at once and settles on its second consecutive sighting;
// a sighting of the settled name drops whatever was pending. Returns whether
// the menu's state changed.
bool ExportManager::trackLibraryName(const std::optional<std::string>& reported) {
  std::lock_guard lock(mutex_);
  if (sameName(reported, state_.knownLibraryName)) {
    state_.pendingLibraryName.reset();
    if (sameName(state_.currentLibraryName, reported)) return false;
    state_.currentLibraryName = reported;
    return true;
  }
  if (sameName(reported, state_.pendingLibraryName)) {
    state_.pendingLibraryName.reset();
    state_.confirmedLibraryName = reported;
    state_.currentLibraryName = reported;
    state_.knownLibraryName = reported;
    return true;
  }
  state_.pendingLibraryName = reported;
  state_.currentLibraryName = reported;
  return true;
}

// The idle rule: with auto-sync on, once per activation of the host, when
// both its last activation and the last successful export lie at least three
// minutes back. Marks the activation as used before the sync is requested.
std::optional<std::string> ExportManager::takeIdleReason() {
  const platform::Date now = env_.clock.now();
  double sinceActive = 0;
  {
    std::lock_guard lock(mutex_);
    if (!state_.autoSyncEnabled || state_.idleTriggered) return std::nullopt;
    sinceActive = secondsFromTo(state_.lastKLActiveDate, now);
    const double sinceExport = secondsFromTo(state_.lastExportDate, now);
    if (!(sinceActive >= kIdleSeconds && sinceExport >= kIdleSeconds)) return std::nullopt;
    state_.idleTriggered = true;
  }
  // Whole minutes, toward zero; bounded so that a clock thrown far forward
  // cannot overflow the conversion.
  const auto minutes = static_cast<long long>(std::min(std::trunc(sinceActive / 60.0), 1e15));
  return "idle " + std::to_string(minutes) + " min";
}

}  // namespace quillory::engine
