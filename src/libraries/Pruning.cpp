#include "libraries/Pruning.h"

#include <optional>
#include <system_error>
#include <vector>

#include "libraries/LibraryKeys.h"
#include "libraries/LibraryRecords.h"
#include "libraries/LibraryRegistry.h"
#include "libraries/NameConflicts.h"
#include "libraries/PublishedDocuments.h"
#include "platform/Defaults.h"
#include "platform/Files.h"
#include "platform/Log.h"
#include "platform/Unicode.h"
#include "publish/ContainerPaths.h"

namespace quillory::libraries {

namespace files = platform::files;

namespace {

// The library's folder: its record when that is a non-empty string, else
// whatever the published documents still say (empty when nothing does);
// none when the settings cannot be read now.
std::optional<std::string> libraryPathOf(const LibraryContext& context, const std::string& name) {
  const platform::DefaultsValue record = context.defaults.value(libraryPathKey(name));
  if (record.isUnreadable()) return std::nullopt;
  std::optional<std::string> recorded = record.asString();
  if (recorded && !recorded->empty()) return std::move(*recorded);
  return recoverLibraryPath(context, name).value_or(std::string());
}

// Removes the library's three keys in the pass's change, each unless the
// library has been switched on meanwhile (by the user, by hand or by another
// process): a yes stored after the pass looked is never undone.
void forgetLibrary(platform::DefaultsChange& change, const std::string& name) {
  const std::string flag = syncLibraryKey(name);
  const platform::DefaultsValue on(true);
  change.removeUnless(flag, flag, on);
  change.removeUnless(libraryPathKey(name), flag, on);
  change.removeUnless(libraryFilenameKey(name), flag, on);
}

}  // namespace

bool pruneLibraries(const LibraryContext& context) {
  platform::DefaultsChange forget;
  std::vector<std::string> lines;
  for (const std::string& name : knownLibraries(context.defaults)) {
    std::unique_lock<std::mutex> step;
    if (context.publishLock) step = std::unique_lock(*context.publishLock);
    // Nothing is forgotten or deleted on answers that cannot be read now
    // (another program is half-way through saving the settings): the pass
    // ends, and the next one looks again.
    const platform::DefaultsValue answer = context.defaults.value(syncLibraryKey(name));
    if (answer.isUnreadable()) return false;
    if (answer.asBool() == true) continue;
    const std::optional<std::string> known = libraryPathOf(context, name);
    if (!known) return false;
    const std::string& path = *known;
    if (path.empty()) {
      forgetLibrary(forget, name);
      lines.push_back("[Helper] Pruned disabled library '" + name + "' (path unknown, JSON already deleted)");
      continue;
    }
    if (files::exists(path)) continue;
    if (!deleteLibraryFiles(context, name)) continue;
    forgetLibrary(forget, name);
    lines.push_back("[Helper] Pruned orphaned library '" + name + "' (path no longer exists)");
  }
  if (forget.empty()) return false;
  // Every library the pass forgets, in one change: the keys go together
  // after the pass, and the lines say so only once they are gone.
  if (const platform::StoreResult stored = context.defaults.apply(forget); !stored) {
    context.log.line("[Helper] \u2717 Could not save the pruned libraries: " + *stored.failure);
    return false;
  }
  for (const std::string& line : lines) context.log.line(line);
  return true;
}

bool deleteLibraryFiles(const LibraryContext& context, const std::string& name) {
  const auto namesLibrary = [&](const PublishedDocumentInfo& info) {
    return info.libraryName && platform::canonicallyEqual(*info.libraryName, name);
  };
  const std::filesystem::path folder = publish::containerDocumentsFolder(context.home);
  bool complete = true;
  // A recorded file name that is not a plain name inside the folder (a value
  // edited by hand or corrupted) is never used to remove anything: it is
  // treated like a missing record.
  std::optional<std::string> documentName = context.defaults.value(libraryFilenameKey(name)).asString();
  if (documentName && publish::isPlainFileName(*documentName)) {
    complete = deletePublishedFiles(context.log, *documentName, folder);
  } else {
    documentName = findPublishedDocument(
        folder, [&](const std::string&, const PublishedDocumentInfo& info) { return namesLibrary(info); });
    if (documentName) {
      complete = deletePublishedFiles(context.log, *documentName, folder);
      if (complete) context.log.line("[Helper] Deleted iCloud files (by scan): " + *documentName);
    }
  }

  for (const std::filesystem::path& appFolder : publish::appContainerDocumentsFolders(context.home)) {
    std::vector<std::string> entries;
    // Under the recorded name an app container may hold another library's
    // currency-named pair: that one stays.
    if (documentName && !namesAnotherLibrary(appFolder / *documentName, name))
      entries.push_back(*documentName);
    (void)findPublishedDocument(appFolder, [&](const std::string& entry, const PublishedDocumentInfo& info) {
      if (namesLibrary(info) && entry != documentName) entries.push_back(entry);
      return false;  // look at every document
    });
    for (const std::string& entry : entries) {
      complete =
          deletePublishedFiles(context.log, entry, appFolder, "files in " + appFolder.string()) && complete;
    }
  }
  return complete;
}

bool deletePublishedFiles(platform::Log& log, const std::string& documentFileName,
                          const std::filesystem::path& folder, const std::string& what) {
  if (!publish::isPlainFileName(documentFileName)) return true;
  std::string removed;
  bool complete = true;
  for (const std::string& entry : {documentFileName, publish::markerNameFor(documentFileName)}) {
    const std::error_code error = files::removeFile(folder / entry);
    if (!error) {
      removed += (removed.empty() ? "" : ", ") + entry;
    } else if (error != std::errc::no_such_file_or_directory && error != std::errc::not_a_directory) {
      log.line("[Helper] \u2717 Could not delete " + (folder / entry).string() + ": " + error.message());
      complete = false;
    }
  }
  if (!removed.empty()) log.line("[Helper] Deleted " + what + ": " + removed);
  return complete;
}

}  // namespace quillory::libraries
