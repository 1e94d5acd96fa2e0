// When the engine syncs by itself: the workspace observers and the 10-second
// check, which feeds the name tracker and asks the idle rule.
//
// Scheduled checks never overlap: a trigger (the timer, an activation of the
// host) that comes while a check runs or waits to run asks for one more
// check after it, and any further triggers until that one starts are the
// same request. A host that appears many times a second while its name
// script is slow thus costs one running check and one waiting, not a thread
// and a script each. Checks called directly (the command line, tests) may
// still overlap: each runs its steps in order, and each step that reads and
// writes the name or idle fields does so in one locked step, so overlapping
// checks never see one another's half-done updates and the idle rule fires
// at most once per activation.

#include <cassert>
#include <chrono>
#include <string>
#include <utility>

#include "bridge/HostScripts.h"
#include "bridge/ScriptRunner.h"
#include "engine/ExportManager.h"
#include "libraries/LibraryKeys.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/Log.h"
#include "platform/Workspace.h"

namespace quillory::engine {

namespace {

constexpr std::chrono::seconds kCheckInterval{10};
constexpr std::chrono::seconds kStatusRefreshInterval{60};

}  // namespace

void ExportManager::startMonitoring() {
  assert(env_.dispatcher.isMainThread());
  const std::weak_ptr<ExportManager> weak = weak_from_this();
  env_.workspace.observeTermination([weak](const std::optional<std::string>& bundleIdentifier) {
    if (auto self = weak.lock()) self->klDidQuit(bundleIdentifier);
  });
  env_.workspace.observeActivation([weak](const std::optional<std::string>& bundleIdentifier) {
    if (auto self = weak.lock()) self->appDidActivate(bundleIdentifier);
  });
  env_.dispatcher.repeatOnMain(kCheckInterval, [weak] {
    auto self = weak.lock();
    if (!self) return;
    assert(self->env_.dispatcher.isMainThread());
    self->scheduleCheck();
  });
  env_.dispatcher.repeatOnMain(kStatusRefreshInterval, [weak] {
    if (auto self = weak.lock()) self->callStatusHookNow();
  });
  scheduleCheck();
}

void ExportManager::scheduleCheck() {
  {
    std::lock_guard lock(mutex_);
    if (checkScheduled_) {
      checkAgain_ = true;
      return;
    }
    checkScheduled_ = true;
  }
  env_.dispatcher.global(platform::QualityOfService::background, [weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    for (bool again = true; again;) {
      self->periodicCheck();
      std::lock_guard lock(self->mutex_);
      again = std::exchange(self->checkAgain_, false);
      self->checkScheduled_ = again;
    }
  });
}

bool ExportManager::isHostRunning() const { return bridge::isHostRunning(env_.workspace, klBundleID); }

void ExportManager::klDidQuit(const std::optional<std::string>& bundleIdentifier) {
  assert(env_.dispatcher.isMainThread());
  if (bundleIdentifier != klBundleID) return;
  {
    std::lock_guard lock(mutex_);
    names_.hostQuit();
  }
  notifyStatusChanged();
}

void ExportManager::appDidActivate(const std::optional<std::string>& bundleIdentifier) {
  assert(env_.dispatcher.isMainThread());
  if (bundleIdentifier != klBundleID) return;
  const platform::MonotonicTime now = env_.clock.monotonicNow();
  {
    std::lock_guard lock(mutex_);
    idle_.hostActivated(now);
  }
  scheduleCheck();
}

void ExportManager::periodicCheck() {
  pruneLibraries();
  if (!checkLibraryName()) return;
  const platform::MonotonicTime now = env_.clock.monotonicNow();
  std::optional<std::string> reason;
  {
    // The test and the mark of the activation as used are one step.
    std::lock_guard lock(mutex_);
    reason = idle_.take(now, state_.autoSyncEnabled);
  }
  if (reason) sync(*reason);
}

bool ExportManager::checkLibraryName() {
  // Whether there is a script launcher at all: without one the status line
  // says so at once, rather than waiting for a host that can never answer.
  std::optional<std::string> launcherProblem;
  if (env_.scripts.launcherMissing()) {
    launcherProblem = std::string(publish::exportErrorMessage(ExportErrorCode::noScriptLauncher));
  }
  bool launcherChanged = false;
  {
    std::lock_guard lock(mutex_);
    launcherChanged = std::exchange(state_.launcherProblem, launcherProblem) != launcherProblem;
  }
  if (launcherChanged) {
    if (launcherProblem) env_.log.line("[Helper] \u26A0 No script launcher: " + *launcherProblem);
    notifyStatusChanged();
  }

  if (!isHostRunning()) {
    bool cleared = false;
    {
      std::lock_guard lock(mutex_);
      cleared = names_.hostNotRunning();
    }
    if (cleared) notifyStatusChanged();
    return false;
  }

  // No script before the permission to control the host is settled; while
  // the user is being asked, no sync either.
  bridge::ScriptResult result;
  switch (automation_.admit()) {
    case AutomationGate::Admission::pending:
      return false;
    case AutomationGate::Admission::refused:
      result.notAuthorized = true;
      break;
    case AutomationGate::Admission::granted:
      result = env_.scripts.run(std::string(bridge::kLibraryNameScript), bridge::kLibraryNameTimeout);
      if (result.notAuthorized) automation_.scriptRefused();
      break;
  }
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
  bool changed = false;
  {
    std::lock_guard lock(mutex_);
    changed = names_.report(libraries::usableLibraryName(result.output));
  }
  if (changed) notifyStatusChanged();
  return true;
}

}  // namespace quillory::engine
