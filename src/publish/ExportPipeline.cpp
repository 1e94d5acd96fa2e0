#include "publish/ExportPipeline.h"

#include "bridge/HostScripts.h"
#include "bridge/ScriptRunner.h"
#include "libraries/ContainerPaths.h"
#include "libraries/LibraryKeys.h"
#include "libraries/LibraryRecords.h"
#include "libraries/NameConflicts.h"
#include "platform/Log.h"
#include "platform/Unicode.h"
#include "publish/Destinations.h"
#include "publish/DocumentTransform.h"
#include "publish/ExportError.h"

namespace quillory::publish {

namespace {

// The name script around the export. Refused, it fails the export with the
// error that says where to allow it (a refusal after the export would
// otherwise read as a change of library).
std::optional<std::string> reportedLibraryName(const PipelineContext& context) {
  bridge::ScriptResult answer =
      context.scripts.run(std::string(bridge::kLibraryNameScript), bridge::kLibraryNameTimeout);
  if (answer.notAuthorized) throw ExportError(ExportErrorCode::klNotAuthorized);
  return libraries::usableLibraryName(answer.output);
}

bool sameName(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  if (!a || !b) return !a && !b;
  return platform::canonicallyEqual(*a, *b);
}

}  // namespace

int exportLibrary(const PipelineContext& context) {
  if (!context.isHostRunning || !context.isHostRunning()) throw ExportError(ExportErrorCode::klNotResponding);
  std::optional<std::string> libraryName = context.confirmedLibraryName;
  if (context.bracketWithLibraryName) libraryName = reportedLibraryName(context);
  // The export is transformed as the script prints it; nothing of it is kept
  // when the run fails.
  ExportTransform transform(context.keepFields);
  const bridge::StreamResult exported =
      context.scripts.stream(std::string(bridge::kExportScript), bridge::kExportTimeout,
                             [&transform](std::string_view piece) { transform.write(piece); });
  if (!exported.delivered) {
    throw ExportError(exported.notAuthorized ? ExportErrorCode::klNotAuthorized
                                             : ExportErrorCode::klNotResponding);
  }
  if (context.bracketWithLibraryName) {
    const std::optional<std::string> after = reportedLibraryName(context);
    if (!sameName(libraryName, after)) {
      context.log.line("[Helper] \u23ED Not publishing: the library open in Kettle Ledger changed from '" +
                       libraryName.value_or("?") + "' to '" + after.value_or("?") + "' during the export");
      throw ExportSkipped{};
    }
  }

  PreparedExport prepared = transform.finish(libraryName, context.clock);
  const std::string publishingName = prepared.libraryName.value_or(prepared.libraryFilename);

  std::unique_lock<std::mutex> publishLock;
  if (context.decide) {
    std::optional<std::unique_lock<std::mutex>> allowed = context.decide(publishingName);
    if (!allowed) throw ExportSkipped{};
    publishLock = std::move(*allowed);
  }

  const std::string documentFileName = prepared.libraryFilename + ".json";
  const std::filesystem::path target = libraries::containerDocumentsFolder(context.home) / documentFileName;
  if (auto existing = libraries::conflictingLibrary(target, prepared.libraryPath, publishingName)) {
    if (publishLock.owns_lock()) publishLock.unlock();  // never held while the main thread is waited for
    libraries::showNameConflictAlert(context.dispatcher, context.alerts, publishingName, *existing,
                                     prepared.libraryPath.empty() ? publishingName : prepared.libraryPath);
    throw ExportError(ExportErrorCode::nameConflict);
  }

  const PublishRequest request{prepared.documentBytes, prepared.markerBytes, prepared.libraryFilename,
                               prepared.currencyFileToken};
  const int count = publishDocument(context.home, context.iOSBundleID, request, context.log);
  if (count == 0) throw ExportError(ExportErrorCode::noDestinations);

  if (prepared.libraryName) {
    libraries::recordPublishedLibrary(context.defaults, *prepared.libraryName, documentFileName,
                                      prepared.libraryPath);
  }
  return count;
}

}  // namespace quillory::publish
