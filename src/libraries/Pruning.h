#pragma once
// Forgetting libraries and deleting their published files.

#include <filesystem>
#include <string>

#include "libraries/LibraryContext.h"

namespace quillory::libraries {

// One pruning pass over the known libraries. Returns true when it pruned at
// least one library (the caller then sends one status notification).
bool pruneLibraries(const LibraryContext& context);

// Deletes the document pair of one library: by its "library_filename_" record
// when there is one, else by scanning the container for its "libraryName".
void deleteLibraryFiles(const LibraryContext& context, const std::string& name);

// Removes `documentFileName` and its update marker from `folder` and logs the
// deletion line. A name that is not a plain file name (contains "/", or is
// "." or "..") removes nothing.
void deletePublishedFiles(platform::Log& log, const std::string& documentFileName,
                          const std::filesystem::path& folder);

}  // namespace quillory::libraries
