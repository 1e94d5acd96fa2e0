#pragma once
// Where published documents live, relative to the user's home folder, and
// the names they are written under. The writer publishes there; pruning and
// deletion read the same places and names to find what was written.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillory::publish {

inline constexpr std::string_view kMobileBundleID = "test.quillory.mobile";
inline constexpr std::string_view kContainerDocumentsRelative =
    "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents";
inline constexpr std::string_view kContainersRelative = "Library/Containers";

inline std::filesystem::path containerDocumentsFolder(const std::filesystem::path& home) {
  return home / kContainerDocumentsRelative;
}

// True when home/Library/Mobile Documents is missing or holds nothing but the
// mobile app's container folder (hidden entries aside): nothing but this
// helper made it, so iCloud Drive, which keeps its own folders there, has
// never run on this Mac, and nothing written there reaches the phone.
bool iCloudDriveSeemsOff(const std::filesystem::path& home);

// Every app container Documents folder of the mobile app, in the order a deep
// walk of home/Library/Containers finds them: for each preferences file
// named <kMobileBundleID>.plist below a "Preferences" folder inside
// Library/Containers, the folder three levels up, then "Documents", when
// that lies inside a container (Library/Containers/<container>/.../
// Documents). The writer publishes into these and deletion removes from
// them: one scan, so the two always agree.
std::vector<std::filesystem::path> appContainerDocumentsFolders(const std::filesystem::path& home);

// The update marker's file name: the document's file name with its ".json"
// ending replaced by "_updated.txt" ("business-eur.json" gives
// "business-eur_updated.txt"; a name without that ending gets "_updated.txt"
// appended). The one rule for the writer and every reader: a ".json" inside
// the name ("my.json-eur.json") stays.
std::string markerNameFor(std::string_view documentFileName);

// True when `name` names an entry directly inside a folder: not empty, not
// "." or "..", and free of "/" and NUL. File names read back from settings
// are checked with this before anything is removed under them.
bool isPlainFileName(std::string_view name);

}  // namespace quillory::publish
