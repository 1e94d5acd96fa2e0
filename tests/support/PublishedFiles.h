#pragma once
// Whether a published file, as a reader of the container sees it, is whole.

#include <string>

namespace quillory::testing {

// One JSON object with the members every document has: "items" (an array),
// "libraryName", "libraryPath" and "exportedAt" (a timestamp).
bool isCompleteDocument(const std::string& bytes);
// One timestamp, as a marker file holds it.
bool isCompleteMarker(const std::string& bytes);

}  // namespace quillory::testing
