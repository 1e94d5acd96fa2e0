#include "libraries/Pruning.h"

#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "libraries/LibraryKeys.h"
#include "libraries/LibraryRecords.h"
#include "libraries/LibraryRegistry.h"
#include "libraries/PublishedDocuments.h"
#include "platform/Defaults.h"
#include "platform/Files.h"
#include "platform/Log.h"
#include "platform/Unicode.h"
#include "publish/ContainerPaths.h"

namespace quillory::libraries {

namespace fs = std::filesystem;
namespace files = platform::files;

namespace {

// The library's folder: its record when that is a non-empty string, else
// whatever the published documents still say (empty when nothing does);
// none when the settings cannot be read now.
std::optional<std::string> libraryPathOf(const LibraryContext& context, const std::string& name,
                                         DocumentIndex& icloud) {
  const platform::DefaultsValue record = context.defaults.value(libraryPathKey(name));
  if (record.isUnreadable()) return std::nullopt;
  std::optional<std::string> recorded = record.asString();
  if (recorded && !recorded->empty()) return std::move(*recorded);
  return recoverLibraryPath(context, name, &icloud).value_or(std::string());
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

// Whether the document at `document` may be deleted as the library `name`'s,
// read now: it is the library's when its "libraryName" is the name, or, for
// a document without one, when its "libraryPath" is the library's recorded
// folder. A document that cannot be read (or is not there) may go: only a
// place this library's own record or scan named is ever asked about. When
// it is another's, logs what is kept and why, and returns false.
bool isOwnDocument(const LibraryContext& context, const std::string& name, const fs::path& document) {
  const std::optional<PublishedDocumentInfo> info = readPublishedDocument(document);
  if (!info) return true;
  std::string owner;
  if (info->libraryName) {
    if (platform::canonicallyEqual(*info->libraryName, name)) return true;
    owner = "the document of '" + *info->libraryName + "'";
  } else if (info->libraryPath && !info->libraryPath->empty()) {
    const std::optional<std::string> own = context.defaults.value(libraryPathKey(name)).asString();
    if (own && platform::canonicallyEqual(*own, *info->libraryPath)) return true;
    owner = "the document of the library at " + *info->libraryPath;
  } else {
    owner = "a document that names no library";
  }
  context.log.line("[Helper] \u23ED Kept " + document.string() + ": " + owner + ", not of '" + name + "'");
  return false;
}

std::unique_lock<std::mutex> publishStep(const LibraryContext& context) {
  return context.publishLock ? std::unique_lock(*context.publishLock) : std::unique_lock<std::mutex>();
}

}  // namespace

bool pruneLibraries(const LibraryContext& context) {
  // One listing of the container Documents folder for the whole pass, read
  // only when a library needs it.
  DocumentIndex icloud(publish::containerDocumentsFolder(context.home));
  platform::DefaultsChange forget;
  std::vector<std::string> lines;
  for (const std::string& name : knownLibraries(context.defaults)) {
    // The folder is listed and read before the lock is taken, not under it,
    // when this library will need it (as it looks now).
    if (context.defaults.value(syncLibraryKey(name)).asBool() != true) (void)icloud.naming(name);
    const std::unique_lock<std::mutex> step = publishStep(context);
    // Nothing is forgotten or deleted on answers that cannot be read now
    // (another program is half-way through saving the settings): the pass
    // ends, and the next one looks again.
    const platform::DefaultsValue stored = context.defaults.value(syncLibraryKey(name));
    if (stored.isUnreadable()) return false;
    const std::optional<bool> answer = stored.asBool();
    if (answer == true) continue;
    const std::optional<std::string> known = libraryPathOf(context, name, icloud);
    if (!known) return false;
    const std::string& path = *known;
    // A switched-off library keeps nothing in the folder, also when the
    // switch-off was stored by another home or process, or the process
    // ended before it deleted. A library never answered is left alone.
    if (answer == false) {
      for (const DocumentIndex::Document* document : icloud.naming(name)) {
        if (isOwnDocument(context, name, icloud.folder() / document->entry)) {
          (void)deletePublishedFiles(context.log, document->entry, icloud.folder());
        }
      }
    }
    if (path.empty()) {
      forgetLibrary(forget, name);
      lines.push_back("[Helper] Pruned disabled library '" + name + "' (path unknown, JSON already deleted)");
      continue;
    }
    if (files::exists(path)) continue;
    if (!deleteLibraryFiles(context, name, &icloud)) continue;
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

void removeSwitchedOffCopies(const LibraryContext& context, const std::vector<fs::path>& folders) {
  for (const fs::path& folder : folders) {
    std::vector<std::pair<std::string, std::string>> found;  // entry, library name
    (void)findPublishedDocument(folder, [&](const std::string& entry, const PublishedDocumentInfo& info) {
      if (info.libraryName && context.defaults.value(syncLibraryKey(*info.libraryName)).asBool() == false) {
        found.emplace_back(entry, *info.libraryName);
      }
      return false;  // look at every document
    });
    for (const auto& [entry, name] : found) {
      const std::unique_lock<std::mutex> step = publishStep(context);
      if (context.defaults.value(syncLibraryKey(name)).asBool() != false) continue;
      if (!isOwnDocument(context, name, folder / entry)) continue;
      (void)deletePublishedFiles(context.log, entry, folder, "files in " + folder.string());
    }
  }
}

bool deleteLibraryFiles(const LibraryContext& context, const std::string& name, DocumentIndex* icloud) {
  const auto namesLibrary = [&](const PublishedDocumentInfo& info) {
    return info.libraryName && platform::canonicallyEqual(*info.libraryName, name);
  };
  const fs::path folder = publish::containerDocumentsFolder(context.home);
  bool complete = true;
  // A recorded file name that is not a plain name inside the folder (a value
  // edited by hand or corrupted) is never used to remove anything: it is
  // treated like a missing record.
  std::optional<std::string> recorded = context.defaults.value(libraryFilenameKey(name)).asString();
  if (recorded && !publish::isPlainFileName(*recorded)) recorded.reset();
  std::optional<std::string> documentName;
  if (recorded && isOwnDocument(context, name, folder / *recorded)) {
    documentName = recorded;
    complete = deletePublishedFiles(context.log, *documentName, folder);
  } else {
    // No usable record, or the recorded place holds another library's
    // document (a stale record): the library's own document is looked for.
    if (icloud) {
      for (const DocumentIndex::Document* document : icloud->naming(name)) {
        if (document->entry == recorded || !files::exists(folder / document->entry)) continue;
        documentName = document->entry;
        break;
      }
    } else {
      documentName =
          findPublishedDocument(folder, [&](const std::string& entry, const PublishedDocumentInfo& info) {
            return entry != recorded && namesLibrary(info);
          });
    }
    if (documentName && isOwnDocument(context, name, folder / *documentName)) {
      complete = deletePublishedFiles(context.log, *documentName, folder);
      if (complete) context.log.line("[Helper] Deleted iCloud files (by scan): " + *documentName);
    }
  }

  for (const fs::path& appFolder : publish::appContainerDocumentsFolders(context.home)) {
    std::vector<std::string> entries;
    // Under the recorded name an app container may hold another library's
    // currency-named pair: that one stays.
    if (recorded && isOwnDocument(context, name, appFolder / *recorded)) entries.push_back(*recorded);
    (void)findPublishedDocument(appFolder, [&](const std::string& entry, const PublishedDocumentInfo& info) {
      if (namesLibrary(info) && entry != recorded) entries.push_back(entry);
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
