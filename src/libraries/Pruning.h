#pragma once
// Forgetting libraries and deleting their published files.

#include <filesystem>
#include <string>
#include <vector>

#include "libraries/LibraryContext.h"
#include "libraries/PublishedDocuments.h"

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
// The pass lists and reads the container Documents folder at most once
// (for path recovery, deletion by scan and the following): every pair there
// whose document names a library whose stored answer is false is deleted,
// with the lines of a switch-off, so that a switch-off left half done
// (stored by another home or process, or ended before its deletion) is
// finished. A library whose answer is absent or not a bool is left alone.
bool pruneLibraries(const LibraryContext& context);

// The app containers' side of the same: in each of `folders` (the app
// container Documents folders an export has just found), every pair whose
// document names a library whose stored answer is false is deleted, each
// under the publish lock, with the lines of a switch-off.
void removeSwitchedOffCopies(const LibraryContext& context,
                             const std::vector<std::filesystem::path>& folders);

// Deletes everything published of one library, and nothing of another: a
// document is deleted only when it is this library's own (its "libraryName"
// is the name; for a document without one, its "libraryPath" is the
// library's recorded folder) or, at a place the library's record names,
// cannot be read; a document kept for that reason gets one line,
// "[Helper] ⏭ Kept <path>: <whose it is>, not of '<name>'". In the
// container Documents folder: the pair named by its "library_filename_"
// record when that is the library's, else the first document found by
// scanning for its "libraryName" (through `icloud` when given). In every app
// container Documents folder (the writer's scan): the pair of the recorded
// file name when it is the library's, and every pair whose document's
// "libraryName" is the library (its currency-named pair). Returns true when
// nothing of the library's that existed stayed; every file that could not be
// removed has its own line. The caller holds the publish lock.
bool deleteLibraryFiles(const LibraryContext& context, const std::string& name,
                        DocumentIndex* icloud = nullptr);

// Removes `documentFileName` and its update marker from `folder`. Files that
// were removed are listed in one line, "[Helper] Deleted <what>: " + names;
// a file that exists and could not be removed gets a line with the reason
// instead; files that did not exist are not mentioned. Returns true when
// neither file is left. A name that is not a plain file name (contains "/",
// or is "." or "..") removes nothing and returns true.
bool deletePublishedFiles(platform::Log& log, const std::string& documentFileName,
                          const std::filesystem::path& folder, const std::string& what = "iCloud files");

}  // namespace quillory::libraries
