#pragma once
// The per-library records "library_path_<name>" and "library_filename_<name>".

#include <optional>
#include <string>

#include "libraries/LibraryContext.h"
#include "libraries/PublishedDocuments.h"
#include "platform/Defaults.h"

namespace quillory::libraries {

// After a successful export with a library name: adds the document's file
// name (with ".json") and the folder path, when it is not empty, to the
// change that the export stores.
void addPublishedLibraryRecords(platform::DefaultsChange& change, const std::string& name,
                                const std::string& documentFileName, const std::string& libraryPath);

// Finds the folder of `name` in the published documents of the container
// Documents folder, stores it under "library_path_<name>" and logs the
// recovery line. None, silently, when no document names the library with a
// non-empty path. With `index` (the container Documents folder's), the
// documents it has read are used instead of a scan of their own.
std::optional<std::string> recoverLibraryPath(const LibraryContext& context, const std::string& name,
                                              DocumentIndex* index = nullptr);

}  // namespace quillory::libraries
