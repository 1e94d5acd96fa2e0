#pragma once
// Forgetting libraries and deleting their published files.

#include <filesystem>
#include <string>

#include "libraries/LibraryContext.h"

namespace quillory::libraries {

// One pruning pass over the known libraries, each looked at (and an
// orphan's files deleted) in one step under the context's publish lock; the
// keys of every library pruned are removed together in one settings change
// at the end, each unless the library was switched on meanwhile, and the
// "Pruned" lines follow once that change is stored (a failed one is logged
// and prunes nothing). Returns true when it pruned at
// least one library (the caller then sends one status notification). An
// orphaned library whose files could not all be deleted keeps its keys, so
// that it stays in the menu and the next pass tries again.
bool pruneLibraries(const LibraryContext& context);

// Deletes everything published of one library. In the container Documents
// folder: the pair named by its "library_filename_" record when there is
// one, else the first document found by scanning for its "libraryName". In
// every app container Documents folder (the writer's scan): the pair of that
// same file name unless its document names another library, and every pair
// whose document's "libraryName" is the library (its currency-named pair).
// Returns true when nothing that existed stayed; every file that could not
// be removed has its own line. The caller holds the publish lock.
bool deleteLibraryFiles(const LibraryContext& context, const std::string& name);

// Removes `documentFileName` and its update marker from `folder`. Files that
// were removed are listed in one line, "[Helper] Deleted <what>: " + names;
// a file that exists and could not be removed gets a line with the reason
// instead; files that did not exist are not mentioned. Returns true when
// neither file is left. A name that is not a plain file name (contains "/",
// or is "." or "..") removes nothing and returns true.
bool deletePublishedFiles(platform::Log& log, const std::string& documentFileName,
                          const std::filesystem::path& folder, const std::string& what = "iCloud files");

}  // namespace quillory::libraries
