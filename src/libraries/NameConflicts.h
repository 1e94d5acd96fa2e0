#pragma once
// Telling whether a document at the publishing place belongs to another
// library, so that the export run refuses to write over it.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Files.h"

namespace quillory::libraries {

// The existing document's "libraryPath" when the document at `targetDocument`
// belongs to another library folder that still exists; none otherwise (also
// on every read or parse failure, and when `newPath` is empty).
std::optional<std::string> conflictingLibraryPath(const std::filesystem::path& targetDocument,
                                                  const std::string& newPath);

// The conflict test of an export: by folder (above) when `newPath` is not
// empty. Without a folder of its own, the document at `targetDocument`
// belongs to another library when its "libraryName" is a string that is not
// canonically equal to `newName` (unless its "libraryPath" names a place that
// no longer exists: that library is gone). Returns what the alert shows for
// the existing library: its path, or its name where it has no path; none
// when there is no conflict (also on every read or parse failure).
std::optional<std::string> conflictingLibrary(const std::filesystem::path& targetDocument,
                                              const std::string& newPath, const std::string& newName);

// Whether the library `name` may write its currency-named pair at
// `document` (<currency>.json in an app container). Not when the document
// there is another library's own document: it names a library not
// canonically equal to `name`, and its "currencyCode" is not this file's
// currency (so it is not that library's currency-named pair, which a
// library of the same currency may replace). A missing or unreadable
// document, or one that names no library, may be written over.
bool mayWriteCurrencyPair(const std::filesystem::path& document, const std::string& name);

// The conflict test as the export takes it apart: read before the publish
// lock, confirmed under it. `targets` are the places the document is about to
// be written, one per destination (the container Documents folder first,
// then each app container's), all read before anything is written anywhere;
// `existing` is the first conflict in their order. `stamps` are the targets'
// identities taken before the reads; while every target keeps its stamp,
// `existing` still holds.
struct ConflictReading {
  std::optional<std::string> existing;  // as `conflictingLibrary` returns it
  std::vector<platform::files::FileStamp> stamps;
};
ConflictReading readConflict(const std::vector<std::filesystem::path>& targets, const std::string& newPath,
                             const std::string& newName);
bool stillCurrent(const ConflictReading& reading, const std::vector<std::filesystem::path>& targets);

}  // namespace quillory::libraries
