#include "libraries/Pruning.h"

#include <optional>

#include "libraries/ContainerPaths.h"
#include "libraries/LibraryKeys.h"
#include "libraries/LibraryRecords.h"
#include "libraries/LibraryRegistry.h"
#include "libraries/PublishedDocuments.h"
#include "platform/Defaults.h"
#include "platform/Files.h"
#include "platform/Log.h"
#include "platform/Unicode.h"

namespace quillory::libraries {

namespace files = platform::files;

namespace {

// The library's folder: its record when that is a non-empty string, else
// whatever the published documents still say (empty when nothing does).
std::string libraryPathOf(const LibraryContext& context, const std::string& name) {
  std::optional<std::string> recorded = context.defaults.value(libraryPathKey(name)).asString();
  if (recorded && !recorded->empty()) return std::move(*recorded);
  return recoverLibraryPath(context, name).value_or(std::string());
}

void forgetLibrary(platform::Defaults& defaults, const std::string& name) {
  defaults.remove(syncLibraryKey(name));
  defaults.remove(libraryPathKey(name));
  defaults.remove(libraryFilenameKey(name));
}

}  // namespace

bool pruneLibraries(const LibraryContext& context) {
  bool prunedAny = false;
  for (const std::string& name : knownLibraries(context.defaults)) {
    if (isLibraryEnabled(context.defaults, name)) continue;
    const std::string path = libraryPathOf(context, name);
    if (path.empty()) {
      forgetLibrary(context.defaults, name);
      context.log.line("[Helper] Pruned disabled library '" + name +
                       "' (path unknown, JSON already deleted)");
      prunedAny = true;
      continue;
    }
    if (files::exists(path)) continue;
    deleteLibraryFiles(context, name);
    forgetLibrary(context.defaults, name);
    context.log.line("[Helper] Pruned orphaned library '" + name + "' (path no longer exists)");
    prunedAny = true;
  }
  return prunedAny;
}

void deleteLibraryFiles(const LibraryContext& context, const std::string& name) {
  const std::filesystem::path folder = containerDocumentsFolder(context.home);
  // A recorded file name that is not a plain name inside the folder (a value
  // edited by hand or corrupted) is never used to remove anything: it is
  // treated like a missing record.
  const std::optional<std::string> recorded = context.defaults.value(libraryFilenameKey(name)).asString();
  if (recorded && isPlainFileName(*recorded)) {
    deletePublishedFiles(context.log, *recorded, folder);
    return;
  }
  const auto names = [&](const std::string&, const PublishedDocumentInfo& info) {
    return info.libraryName && platform::canonicallyEqual(*info.libraryName, name);
  };
  if (const std::optional<std::string> entry = findPublishedDocument(folder, names)) {
    deletePublishedFiles(context.log, *entry, folder);
    context.log.line("[Helper] Deleted iCloud files (by scan): " + *entry);
  }
}

void deletePublishedFiles(platform::Log& log, const std::string& documentFileName,
                          const std::filesystem::path& folder) {
  if (!isPlainFileName(documentFileName)) return;
  const std::string markerName = markerNameFor(documentFileName);
  // Failures (most often: the file is already gone) are of no consequence.
  (void)files::removeFile(folder / documentFileName);
  (void)files::removeFile(folder / markerName);
  log.line("[Helper] Deleted iCloud files: " + documentFileName + ", " + markerName);
}

}  // namespace quillory::libraries
