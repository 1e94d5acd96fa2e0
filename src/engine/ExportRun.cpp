// The export run: `sync` (the entry, on the caller's thread) and `runExport`
// (the body, on the user-initiated queue).
//
// Why runs never overlap. `isSyncing` alone cannot guard a run: `sync` may
// wait for the user at the first-sync alert between testing `isSyncing` and
// setting it, and `isSyncing` must stay false for a sync that is then
// declined. So the manager keeps one more flag under its state mutex, the run
// slot (`runSlotClaimed_`):
//
//   sync:      lock { if isSyncing or slot claimed: return; claim slot }   (one step)
//              ask the opt-in question (no lock held; may wait for the user);
//              a new answer is stored off the main thread (on the main
//              thread: the rest goes on from the user-initiated queue,
//              and a yes sets isSyncing at once, cleared if not stored)
//              declined: lock { release slot }; skip line; return
//              no answer, or one that could not be stored: release the slot;
//              no skip line (nobody said no); return
//              lock { isSyncing = true; lastError = none }   (slot stays claimed)
//              notify; hand runExport to the user-initiated queue
//   runExport: exportLibrary(); record the outcome
//              lock { isSyncing = false; release slot }   (one step)
//
// Invariant: isSyncing implies the slot is claimed, and at most one caller
// holds the slot. Every `sync` that meets a claimed slot (another sync asking
// the user, or a run in progress) returns at once with no line, notification
// or state change; a nested `sync` on the main thread while the alert is open
// is such a caller too. A declined sync leaves `isSyncing` false and
// `lastError` as it was, because neither was touched before the answer. An
// exception out of the question releases the slot on the way out (RunSlot).
//
// The publish decision (`storedDecision`, in `exportLibrary` once the
// export's publishing name is known):
//
//   loop: scan the containers; conflict read (every destination's
//           document); unless it found a conflict: stage (write every pair
//           to temporary files)
//         lock publish { answer = stored answer of the name
//                        true: confirm the conflict read (read again only if
//                              the target changed since), then rename the
//                              staged files into place and write the records,
//                              or, on a conflict, unlock and show the alert }
//         otherwise: unlock, remove the temporary files, and
//           false, or missing although this sync already had a yes or asked:
//                 skip line, nothing written
//           missing: ask on the main thread (no lock held), then loop;
//                    abandoned: nothing written, no line
//
// A switch-off takes the same lock to store false and delete, so it comes
// either before the decision (the run skips, its temporary files go) or
// after the renames (it deletes what they put in place). Temporary files are
// hidden and never named like a published pair, so a deletion never needs to
// see them. A missing answer after a yes in this sync means the library was
// switched off and then forgotten by pruning: skipped too.

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/ExportManager.h"
#include "libraries/LibraryKeys.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/Log.h"
#include "platform/Unicode.h"
#include "publish/ContainerPaths.h"

namespace quillory::engine {

namespace {
constexpr const char* kStoppedForQuitText = "Sync stopped because Quillory Helper is quitting";
}

// Ownership of the claimed run slot during `sync`: released when `sync` ends
// without starting a run, kept (for `runExport` to release) once the run is
// handed over.
class ExportManager::RunSlot {
 public:
  explicit RunSlot(ExportManager& manager) : manager_(manager) {}
  ~RunSlot() { release(); }
  RunSlot(const RunSlot&) = delete;
  RunSlot& operator=(const RunSlot&) = delete;

  void release() {
    if (!owned_) return;
    owned_ = false;
    std::lock_guard lock(manager_.mutex_);
    manager_.runSlotClaimed_ = false;
  }
  void handOverToRun() { owned_ = false; }

 private:
  ExportManager& manager_;
  bool owned_ = true;
};

void ExportManager::sync(const std::string& reason) {
  std::optional<std::string> libraryName;
  {
    std::lock_guard lock(mutex_);
    if (state_.isSyncing || runSlotClaimed_) return;
    runSlotClaimed_ = true;
    runCausedByUser_ = reason == "manual";
    libraryName = names_.names().current;
  }
  RunSlot slot(*this);
  if (!libraryName) {
    startRun(reason, libraryName, OptIn::yes, slot);
    return;
  }
  const std::optional<Asked> asked = askOnMain(*libraryName);
  // None: the main queue dropped the question (the dispatcher is shutting
  // down). Nothing was asked, so nothing is logged or started.
  if (!asked) return;
  if (!asked->toStore) {
    startRun(reason, libraryName, asked->answer, slot);
  } else if (!env_.dispatcher.isMainThread()) {
    startRun(reason, libraryName, storeAnswer(*libraryName, asked->answer), slot);
  } else {
    // The main thread never waits for the settings file: the answer is
    // stored on the user-initiated queue, and the sync goes on from there
    // with the slot still claimed. A yes shows the run at once; an answer
    // that cannot be stored ends it unstarted.
    const bool yes = asked->answer == OptIn::yes;
    if (yes) {
      std::lock_guard lock(mutex_);
      state_.isSyncing = true;
      state_.lastError.reset();
    }
    if (yes) notifyStatusChanged();
    slot.handOverToRun();
    env_.dispatcher.global(platform::QualityOfService::userInitiated,
                           [weak = weak_from_this(), reason, name = *libraryName, answer = asked->answer] {
                             auto self = weak.lock();
                             if (!self) return;
                             RunSlot claimed(*self);
                             const OptIn stored = self->storeAnswer(name, answer);
                             if (stored != answer) {
                               std::lock_guard lock(self->mutex_);
                               self->state_.isSyncing = false;
                             }
                             self->startRun(reason, name, stored, claimed, true);
                           });
  }
}

void ExportManager::startRun(const std::string& reason, const std::optional<std::string>& libraryName,
                             OptIn answer, RunSlot& slot, bool onRunQueue) {
  std::vector<std::string> settled;
  if (libraryName) {
    switch (answer) {
      case OptIn::yes:
        break;
      case OptIn::no: {
        slot.release();
        setOutcome(RunOutcome::skipped);
        const std::string shown = currentLibraryName().value_or("?");
        env_.log.line("[Helper] \u23ED Skipping '" + shown + "' \u2014 sync disabled by user");
        return;
      }
      case OptIn::unanswered:
        slot.release();
        setOutcome(RunOutcome::unanswered);
        return;
      case OptIn::notStored:  // reported by confirmSync
        slot.release();
        setOutcome(RunOutcome::failed);
        return;
    }
    settled.push_back(*libraryName);
  }

  {
    std::lock_guard lock(mutex_);
    state_.isSyncing = true;
    state_.lastError.reset();
  }
  slot.handOverToRun();
  notifyStatusChanged();
  if (onRunQueue) {
    runExport(reason, settled);
    return;
  }
  env_.dispatcher.global(platform::QualityOfService::userInitiated,
                         [weak = weak_from_this(), reason, settled = std::move(settled)] {
                           if (auto self = weak.lock()) self->runExport(reason, settled);
                         });
}

std::optional<ExportManager::Asked> ExportManager::askOnMain(const std::string& libraryName) {
  if (env_.dispatcher.isMainThread()) return confirmSync(libraryName);
  std::optional<Asked> answer;
  env_.dispatcher.sync([this, &answer, &libraryName] { answer = confirmSync(libraryName); });
  return answer;
}

ExportManager::PublishDecision ExportManager::storedDecision(const std::string& name,
                                                             const std::vector<std::string>& settled) const {
  const platform::DefaultsValue stored = env_.defaults.value(libraries::syncLibraryKey(name));
  if (stored.isUnreadable()) return PublishDecision::unreadable;
  const std::optional<bool> answer = stored.asBool();
  if (answer == true) return PublishDecision::publish;
  const bool askedInThisSync = std::any_of(settled.begin(), settled.end(), [&](const std::string& s) {
    return platform::canonicallyEqual(s, name);
  });
  return answer == false || askedInThisSync ? PublishDecision::skip : PublishDecision::ask;
}

void ExportManager::prepareToQuit() {
  std::lock_guard lock(mutex_);
  quitting_ = true;
}

void ExportManager::runExport(const std::string& reason, const std::vector<std::string>& settled) {
  auto fail = [&](const std::string& message, const std::string& description) {
    bool quitting = false;
    {
      std::lock_guard lock(mutex_);
      quitting = quitting_;
      state_.lastError = quitting ? kStoppedForQuitText : message;
      lastOutcome_ = RunOutcome::failed;
      ++runsEnded_;
      lastRunCausedByUser_ = runCausedByUser_;
      lastRunFailure_ = message;
    }
    if (quitting) {
      env_.log.line("[Helper] \u26A0 Export stopped (" + reason + "): Quillory Helper is quitting");
    } else {
      env_.log.line("[Helper] \u2717 Export failed (" + reason + "): " + description);
    }
  };

  try {
    const int count = exportLibrary(settled);  // stores `lastSyncDate` with the records
    const platform::MonotonicTime exportedAt = env_.clock.monotonicNow();
    // Written, but where nothing carries it to the phone: the user is told,
    // in place of the success line and in the status line.
    const bool iCloudDriveOff = env_.warnWhenICloudDriveOff && publish::iCloudDriveSeemsOff(env_.home);
    {
      std::lock_guard lock(mutex_);
      idle_.exported(exportedAt);
      state_.lastError.reset();
      if (iCloudDriveOff) state_.lastError = kICloudDriveSeemsOff;
      lastOutcome_ = RunOutcome::published;
      ++runsEnded_;
      lastRunCausedByUser_ = runCausedByUser_;
      lastRunFailure_.reset();
    }
    if (iCloudDriveOff) {
      env_.log.line(std::string("[Helper] \u26A0 ") + kICloudDriveSeemsOff);
    } else {
      env_.log.line("[Helper] \u2713 Export OK (" + reason + ") \u2192 " + std::to_string(count) +
                    " destination(s)");
    }
  } catch (const ExportSkipped& skipped) {
    setOutcome(skipped.unanswered ? RunOutcome::unanswered : RunOutcome::skipped);
  } catch (const publish::ExportError& error) {
    fail(error.what(), std::string(error.caseName()));
  } catch (const std::exception& error) {
    fail(error.what(), error.what());
  } catch (...) {
    fail("Unknown error", "unknown error");
  }

  {
    std::lock_guard lock(mutex_);
    state_.isSyncing = false;
    runSlotClaimed_ = false;
  }
  // The outcome and `isSyncing` false are both set: one hop of the main queue
  // takes them to the menu together.
  notifyStatusChanged();
}

}  // namespace quillory::engine
