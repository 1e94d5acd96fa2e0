// One export of the host's current library, from the scripts' answers to the
// document pairs on disk and the library's records: the library-name script
// around the export script, the transform, the publish decision, the conflict
// test and its alert, the writes and the records.

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <string_view>

#include "bridge/HostScripts.h"
#include "bridge/ScriptRunner.h"
#include "engine/ExportManager.h"
#include "libraries/LibraryContext.h"
#include "libraries/LibraryKeys.h"
#include "libraries/LibraryRecords.h"
#include "libraries/NameConflicts.h"
#include "libraries/Pruning.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/Log.h"
#include "platform/Unicode.h"
#include "publish/ContainerPaths.h"
#include "publish/Destinations.h"
#include "publish/DocumentTransform.h"

namespace quillory::engine {

namespace {

// The run's failure while the stored answer cannot be read (another program
// is half-way through saving the settings file): nothing is published.
constexpr const char* kSettingsUnreadable = "The settings cannot be read now";

// The name script around the export. Refused, it fails the export with the
// error that says where to allow it (a refusal after the export would
// otherwise read as a change of library), and the next script asks again.
std::optional<std::string> reportedLibraryName(bridge::ScriptRunner& scripts, AutomationGate& automation) {
  bridge::ScriptResult answer =
      scripts.run(std::string(bridge::kLibraryNameScript), bridge::kLibraryNameTimeout);
  if (answer.notAuthorized) {
    automation.scriptRefused();
    throw ExportError(ExportErrorCode::klNotAuthorized, answer.refusal);
  }
  return libraries::usableLibraryName(answer.output);
}

bool sameName(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  if (!a || !b) return !a && !b;
  return platform::canonicallyEqual(*a, *b);
}

// A folder path (or name) as one line of the conflict alert: each line break
// in it (LF, VT, FF, CR, NEL, U+2028, U+2029) is shown as U+2424, so that it
// cannot fake a line of its own.
std::string onOneLine(std::string_view text) {
  static constexpr std::string_view kBreaks[] = {"\n", "\v", "\f", "\r", "\u0085", "\u2028", "\u2029"};
  std::string result;
  result.reserve(text.size());
  while (!text.empty()) {
    const auto* found = std::find_if(std::begin(kBreaks), std::end(kBreaks),
                                     [&](std::string_view lineBreak) { return text.starts_with(lineBreak); });
    if (found == std::end(kBreaks)) {
      result += text.front();
      text.remove_prefix(1);
    } else {
      result += "\u2424";
      text.remove_prefix(found->size());
    }
  }
  return result;
}

}  // namespace

platform::Alert nameConflictAlert(const std::string& name, const std::string& existingPath,
                                  const std::string& newPath) {
  platform::Alert alert;
  alert.message = "Library name conflict: \"" + name + "\"";
  alert.informativeText =
      "Two Kettle Ledger libraries share the same name and currency but live in different folders:\n\n"
      "\u2022 " +
      onOneLine(existingPath) + "\n\u2022 " + onOneLine(newPath) +
      "\n\nQuillory can only sync one under this filename. Please rename one of the libraries in Kettle "
      "Ledger to resolve the conflict.";
  alert.style = platform::AlertStyle::warning;
  alert.buttons = {"OK"};
  return alert;
}

int ExportManager::exportLibrary(std::vector<std::string> settled) {
  if (env_.scripts.launcherMissing()) throw ExportError(ExportErrorCode::noScriptLauncher);
  if (!isHostRunning()) throw ExportError(ExportErrorCode::klNotResponding);
  // No script before the permission to control the host is settled.
  switch (automation_.admit()) {
    case AutomationGate::Admission::pending:
      throw ExportSkipped{};  // the gate has said why
    case AutomationGate::Admission::refused:
      throw ExportError(ExportErrorCode::klNotAuthorized);
    case AutomationGate::Admission::granted:
      break;
  }
  // The same name before and after the export is the library's name; none
  // twice leaves the name to the export's folder; two different names mean
  // the library changed during the export, and nothing is written.
  const std::optional<std::string> libraryName = reportedLibraryName(env_.scripts, automation_);
  // The export is transformed as the script prints it; nothing of it is kept
  // when the run fails.
  publish::ExportTransform transform;
  const bridge::StreamResult exported =
      env_.scripts.stream(std::string(bridge::kExportScript), bridge::kExportTimeout,
                          [&transform](std::string_view piece) { transform.write(piece); });
  if (!exported.delivered) {
    if (exported.notAuthorized) automation_.scriptRefused();
    if (exported.notAuthorized) throw ExportError(ExportErrorCode::klNotAuthorized, exported.refusal);
    // An answer that is not UTF-8 is no JSON text: the host did answer.
    throw ExportError(exported.notUtf8 ? ExportErrorCode::parseFailure : ExportErrorCode::klNotResponding);
  }
  const std::optional<std::string> after = reportedLibraryName(env_.scripts, automation_);
  if (!sameName(libraryName, after)) {
    env_.log.line("[Helper] \u23ED Not publishing: the library open in Kettle Ledger changed from '" +
                  libraryName.value_or("?") + "' to '" + after.value_or("?") + "' during the export");
    throw ExportSkipped{};
  }

  publish::PreparedExport prepared = transform.finish(libraryName, env_.clock);
  const std::string publishingName = prepared.libraryName.value_or(prepared.libraryFilename);

  const std::string documentFileName = prepared.libraryFilename + ".json";
  const publish::PublishRequest request{prepared.documentBytes.pieces(), prepared.markerBytes,
                                        prepared.libraryFilename, prepared.currencyFileToken,
                                        [&publishingName](const std::filesystem::path& document) {
                                          return libraries::mayWriteCurrencyPair(document, publishingName);
                                        }};

  // The slow part comes first, without the publish lock: the conflict read
  // and, unless it found a conflict, the scan of the containers and the
  // temporary files. Under the lock only the decision and the renames remain
  // (and the records, which switching off reads to find the files).
  for (;;) {
    // Every destination's document is read for a conflict before anything
    // is written anywhere: the container Documents folder's, then each app
    // container's.
    const std::vector<std::filesystem::path> appFolders = publish::appContainerDocumentsFolders(env_.home);
    std::vector<std::filesystem::path> targets{publish::containerDocumentsFolder(env_.home) /
                                               documentFileName};
    for (const std::filesystem::path& folder : appFolders) targets.push_back(folder / documentFileName);
    libraries::ConflictReading conflict =
        libraries::readConflict(targets, prepared.libraryPath, publishingName);
    publish::StagedPublish staged;
    if (!conflict.existing) staged = publish::stageDocument(env_.home, appFolders, request);

    std::unique_lock publishLock(publishMutex_);
    const PublishDecision decision = storedDecision(publishingName, settled);
    if (decision == PublishDecision::publish) {
      if (!libraries::stillCurrent(conflict, targets)) {  // changed since the read: read it again
        const bool nothingStaged = conflict.existing.has_value();
        conflict = libraries::readConflict(targets, prepared.libraryPath, publishingName);
        if (nothingStaged && !conflict.existing) continue;  // stage it now, without the lock
      }
      if (!conflict.existing) {
        const int count = staged.commit(env_.log);
        if (count == 0) {
          publishLock.unlock();
          staged.flush();
          throw ExportError(ExportErrorCode::noDestinations, staged.firstFailure().value_or(""));
        }
        // The library's records and the sync date, as one change (still under
        // the publish lock, so a switch-off finds the records of what was
        // written). A change that cannot be stored leaves the publish as it
        // is, logged.
        platform::DefaultsChange records;
        if (prepared.libraryName) {
          libraries::addPublishedLibraryRecords(records, *prepared.libraryName, documentFileName,
                                                prepared.libraryPath);
        }
        const platform::Date publishedAt = env_.clock.now();
        records.setDate(kLastSyncDateKey, publishedAt);
        const platform::StoreResult stored = env_.defaults.apply(records);
        publishLock.unlock();
        staged.flush();
        // The containers were scanned anyway: copies of switched-off
        // libraries left there go.
        libraries::removeSwitchedOffCopies(libraryContext(), appFolders);
        if (!stored) {
          env_.log.line("[Helper] \u2717 Could not save the records of '" + publishingName +
                        "': " + *stored.failure);
        }
        // The store may keep dates coarser than the clock gives them (whole
        // seconds): the value in memory is the one the next start reads.
        const platform::Date kept =
            stored ? env_.defaults.value(kLastSyncDateKey).asDate().value_or(publishedAt) : publishedAt;
        {
          std::lock_guard lock(mutex_);
          state_.lastSyncDate = kept;
        }
        return count;
      }
      publishLock.unlock();  // never held while the main thread is waited for
      staged.discard();
      platform::Alert alert =
          nameConflictAlert(publishingName, *conflict.existing,
                            prepared.libraryPath.empty() ? publishingName : prepared.libraryPath);
      alert.causedByUser = runCausedByUser();
      // The answer is not used: the alert only informs.
      if (env_.dispatcher.isMainThread()) {
        (void)env_.alerts.run(alert);
      } else {
        env_.dispatcher.sync([&] { (void)env_.alerts.run(alert); });
      }
      throw ExportError(ExportErrorCode::nameConflict);
    }
    publishLock.unlock();
    staged.discard();
    if (decision == PublishDecision::unreadable) throw std::runtime_error(kSettingsUnreadable);
    if (decision == PublishDecision::skip) {
      libraries::removeSwitchedOffCopies(libraryContext(), appFolders);
      env_.log.line("[Helper] \u23ED Skipping '" + publishingName + "' \u2014 sync disabled by user");
      throw ExportSkipped{};
    }
    // Never asked: ask on the main thread (no lock held, nothing staged), then
    // stage again and decide again.
    settled.push_back(publishingName);
    const std::optional<Asked> asked = askOnMain(publishingName);
    if (!asked) throw ExportSkipped{};  // the main queue is gone: nothing asked
    const OptIn answer = asked->toStore ? storeAnswer(publishingName, asked->answer) : asked->answer;
    if (answer == OptIn::unanswered) throw ExportSkipped{.unanswered = true};
    // Reported by confirmSync or storeAnswer; the run fails with the same text.
    if (answer == OptIn::notStored) throw std::runtime_error(lastError().value_or("settings not saved"));
  }
}

}  // namespace quillory::engine
