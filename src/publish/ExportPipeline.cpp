#include "publish/ExportPipeline.h"

#include "bridge/HostScripts.h"
#include "bridge/ScriptRunner.h"
#include "libraries/ContainerPaths.h"
#include "libraries/LibraryRecords.h"
#include "libraries/NameConflicts.h"
#include "publish/Destinations.h"
#include "publish/DocumentTransform.h"
#include "publish/ExportError.h"

namespace quillory::publish {

int exportLibrary(const PipelineContext& context) {
  if (!context.isHostRunning || !context.isHostRunning()) throw ExportError(ExportErrorCode::klNotResponding);
  std::string exportText =
      context.scripts.runScript(std::string(bridge::kExportScript), bridge::kExportTimeoutSeconds);
  if (exportText.empty()) throw ExportError(ExportErrorCode::klNotResponding);

  PreparedExport prepared =
      prepareExport(exportText, context.confirmedLibraryName, context.keepFields, context.clock);
  std::string().swap(exportText);  // the export text is not needed any more:
                                   // free it before writing

  const std::string documentFileName = prepared.libraryFilename + ".json";
  const std::filesystem::path target = libraries::containerDocumentsFolder(context.home) / documentFileName;
  if (auto existingPath = libraries::conflictingLibraryPath(target, prepared.libraryPath)) {
    libraries::showNameConflictAlert(context.dispatcher, context.alerts,
                                     prepared.libraryName.value_or(prepared.libraryFilename), *existingPath,
                                     prepared.libraryPath);
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
