#pragma once
// Where published documents live, relative to the user's home folder.

#include <filesystem>
#include <string>
#include <string_view>

namespace quillory::libraries {

inline constexpr std::string_view kMobileBundleID = "test.quillory.mobile";
inline constexpr std::string_view kContainerDocumentsRelative =
    "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents";
inline constexpr std::string_view kContainersRelative = "Library/Containers";

inline std::filesystem::path containerDocumentsFolder(const std::filesystem::path& home) {
  return home / kContainerDocumentsRelative;
}

// The update marker's file name: every ".json" in the document's file name
// replaced by "_updated.txt".
std::string markerNameFor(std::string_view documentFileName);

// True when `name` names an entry directly inside a folder: not empty, not
// "." or "..", and free of "/" and NUL. File names read back from settings
// are checked with this before anything is removed under them.
bool isPlainFileName(std::string_view name);

}  // namespace quillory::libraries
