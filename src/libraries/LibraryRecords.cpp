#include "libraries/LibraryRecords.h"

#include "libraries/LibraryKeys.h"
#include "libraries/PublishedDocuments.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/Unicode.h"
#include "publish/ContainerPaths.h"

namespace quillory::libraries {

void addPublishedLibraryRecords(platform::DefaultsChange& change, const std::string& name,
                                const std::string& documentFileName, const std::string& libraryPath) {
  change.setString(libraryFilenameKey(name), documentFileName);
  if (!libraryPath.empty()) change.setString(libraryPathKey(name), libraryPath);
}

std::optional<std::string> recoverLibraryPath(const LibraryContext& context, const std::string& name,
                                              DocumentIndex* index) {
  std::string path;
  const auto names = [&](const std::string&, const PublishedDocumentInfo& info) {
    if (!info.libraryName || !platform::canonicallyEqual(*info.libraryName, name)) return false;
    if (!info.libraryPath || info.libraryPath->empty()) return false;
    path = *info.libraryPath;
    return true;
  };
  if (index) {
    for (const DocumentIndex::Document* document : index->naming(name)) {
      if (names(document->entry, document->info)) break;
    }
    if (path.empty()) return std::nullopt;
  } else if (!findPublishedDocument(publish::containerDocumentsFolder(context.home), names)) {
    return std::nullopt;
  }
  // The path is used all the same when it cannot be stored; the next pass
  // recovers it again.
  if (const platform::StoreResult stored = context.defaults.setString(libraryPathKey(name), path); !stored) {
    context.log.line("[Helper] \u2717 Could not save the path of '" + name + "': " + *stored.failure);
  }
  context.log.line("[Helper] Recovered path for '" + name + "': " + path);
  return path;
}

}  // namespace quillory::libraries
