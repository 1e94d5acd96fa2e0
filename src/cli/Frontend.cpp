#include "cli/Frontend.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <utility>

#include "cli/ExitStatus.h"
#include "cli/TerminalText.h"
#include "engine/ExportManager.h"
#include "platform/AlertPresenter.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/Unicode.h"
#include "presentation/LibraryLine.h"
#include "presentation/StatusLine.h"
#include "presentation/SwitchOffQuestion.h"

namespace quillory::cli {

namespace {

// How long one turn of the main loop waits before it looks again; the engine's
// work ends by itself (every script has its time limit), so the front end
// waits as long as it takes.
constexpr std::chrono::seconds kLoopTurn{60};

std::string marked(bool enabled, const std::string& name) {
  return (enabled ? "[on]  " : "[off] ") + terminalText(name);
}

}  // namespace

Frontend::Frontend(engine::ExportManager& manager, platform::Dispatcher& dispatcher,
                   RunMainLoopUntil runMainLoopUntil, platform::Clock& clock,
                   platform::AlertPresenter& alerts, presentation::DateTextSettings dateText, Io io)
    : manager_(manager),
      dispatcher_(dispatcher),
      runMainLoopUntil_(std::move(runMainLoopUntil)),
      clock_(clock),
      alerts_(alerts),
      dateText_(std::move(dateText)),
      io_(io) {}

void Frontend::runUntil(const std::function<bool()>& done) {
  while (!runMainLoopUntil_(done, kLoopTurn)) {
  }
}

void Frontend::onBackground(std::function<void()> work) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  dispatcher_.global(platform::QualityOfService::background,
                     [work = std::move(work), done, &dispatcher = dispatcher_] {
                       work();
                       done->store(true);
                       dispatcher.async([] {});  // wakes the main loop to look at `done`
                     });
  runUntil([&] { return done->load(); });
}

void Frontend::drainMainQueue() {
  // Tasks run in submission order: once this marker has run, so has
  // everything queued before it, and a task it queued in turn (a status
  // notification posts the status hook) is drained by the second round.
  for (int round = 0; round < 2; ++round) {
    auto reached = std::make_shared<bool>(false);
    dispatcher_.async([reached] { *reached = true; });
    runUntil([&] { return *reached; });
  }
}

std::string Frontend::libraryLine() const { return presentation::libraryLine(manager_.currentLibraryName()); }

std::string Frontend::statusLine() const {
  const engine::ExportState state = manager_.state();
  const auto lastSync = state.isSyncing ? std::nullopt : manager_.currentLibrarySyncDate();
  return presentation::statusLineFor(state.isSyncing, state.lastError, state.launcherProblem, lastSync,
                                     [&](platform::Date date) {
                                       return presentation::relativeDateText(date, clock_.now(), dateText_);
                                     })
      .title;
}

int Frontend::sync() {
  // Two checks, so that the open library's name settles (a new name is only
  // taken as the library's once two checks in a row report it).
  onBackground([&manager = manager_] { manager.periodicCheck(); });
  onBackground([&manager = manager_] { manager.periodicCheck(); });

  // "Sync Now": on the main thread, so the first-sync question is asked here.
  manager_.sync("manual");
  runUntil([&] { return !manager_.isRunPending(); });
  drainMainQueue();

  switch (manager_.lastOutcome()) {
    case engine::RunOutcome::skipped:
      return kExitSkipped;
    case engine::RunOutcome::unanswered:
      io_.err << "quillory-helper-cli: sync skipped: the first-sync question was not answered (not asked, no "
                 "terminal, or end of input); --answer sync|dont-sync answers it\n";
      return kExitSkipped;
    default:
      break;
  }
  // Published with a warning (iCloud Drive seems off) is still published.
  if (manager_.lastError() && manager_.lastOutcome() != engine::RunOutcome::published) {
    io_.err << terminalText(statusLine()) << '\n';
    return kExitExportFailed;
  }
  io_.out << terminalText(statusLine()) << '\n';
  return kExitSuccess;
}

int Frontend::status() {
  // Only the reading part of a check: no pruning and no idle sync, so that a
  // status query never deletes a file or changes a setting.
  onBackground([&manager = manager_] { manager.checkLibraryName(); });
  drainMainQueue();
  io_.out << terminalText(libraryLine()) << '\n' << terminalText(statusLine()) << '\n';
  return kExitSuccess;
}

int Frontend::libraries() {
  const std::vector<std::string> names = manager_.knownLibraries();
  // Scripts read the list from standard output: none is no line at all.
  if (names.empty()) io_.err << presentation::kNoLibrariesText << '\n';
  for (const std::string& name : names) io_.out << marked(manager_.isLibraryEnabled(name), name) << '\n';
  return kExitSuccess;
}

std::optional<std::string> Frontend::storedName(const std::string& typed) const {
  const std::vector<std::string> names = manager_.knownLibraries();
  if (std::find(names.begin(), names.end(), typed) != names.end()) return typed;
  // Keys keep the host's spelling; a canonically equivalent one (composed
  // typed for decomposed stored, or the reverse) names the library when it
  // matches exactly one.
  std::optional<std::string> match;
  for (const std::string& name : names) {
    if (!platform::canonicallyEqual(name, typed)) continue;
    if (match) return std::nullopt;
    match = name;
  }
  return match;
}

int Frontend::unknownLibrary(const std::string& name) {
  io_.err << "quillory-helper-cli: no library named \"" << terminalText(name)
          << "\" has been seen; \"quillory-helper-cli libraries\" lists them\n";
  return kExitUsage;
}

int Frontend::enable(const std::string& typed) {
  const std::optional<std::string> stored = storedName(typed);
  if (!stored) return unknownLibrary(typed);
  const std::string& name = *stored;
  if (!manager_.isLibraryEnabled(name)) {
    const platform::StoreResult result = manager_.setLibraryEnabled(name, true);
    if (result) manager_.notifyStatusChanged();
    drainMainQueue();
    if (!result) return notStored(name, *result.failure);
  }
  io_.out << marked(true, name) << '\n';
  return kExitSuccess;
}

int Frontend::disable(const std::string& typed) {
  const std::optional<std::string> stored = storedName(typed);
  if (!stored) return unknownLibrary(typed);
  const std::string& name = *stored;
  // A switch-off always stores false and removes the library's files,
  // whatever was stored (a mistyped "true" shows as off but may have been
  // published): only a library already switched off needs no question,
  // its switch-off removing what another process may have left.
  const bool switchedOff = manager_.storedAnswer(name) == false;
  if (!switchedOff && !io_.canConfirmDisable) {
    io_.err << "quillory-helper-cli: disable deletes the library's published files; standard input is not "
               "a terminal, so confirm with --yes\n";
    return kExitUsage;
  }
  if (!switchedOff && alerts_.run(presentation::switchOffQuestion(name)) != 0) {
    io_.out << marked(true, name) << " (nothing changed)\n";
    return kExitSkipped;
  }
  // As the submenu does it: the answer is stored before the files go, so a
  // failed deletion still leaves the library switched off.
  const engine::ExportManager::SwitchOff result = manager_.switchOffLibrary(name);
  drainMainQueue();
  if (!result.stored) return notStored(name, *result.stored.failure);
  io_.out << marked(false, name) << '\n';
  if (!result.filesRemoved) {
    io_.err << "quillory-helper-cli: switched off, but some of the library's published files could not be "
               "deleted (see the lines above)\n";
    return kExitExportFailed;
  }
  return kExitSuccess;
}

int Frontend::notStored(const std::string& name, const std::string& reason) {
  io_.err << "quillory-helper-cli: nothing changed for \"" << terminalText(name)
          << "\": the settings could not be saved: " << terminalText(reason) << '\n';
  return kExitExportFailed;
}

int Frontend::prune() {
  onBackground([&manager = manager_] { manager.pruneLibraries(); });
  drainMainQueue();
  return kExitSuccess;
}

}  // namespace quillory::cli
