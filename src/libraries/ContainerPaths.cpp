#include "libraries/ContainerPaths.h"

#include <algorithm>

#include "platform/Files.h"

namespace quillory::libraries {

namespace {
constexpr std::string_view kDocumentEnding = ".json";
constexpr std::string_view kMarkerEnding = "_updated.txt";
}  // namespace

std::vector<std::filesystem::path> appContainerDocumentsFolders(const std::filesystem::path& home,
                                                                std::string_view iOSBundleID) {
  namespace fs = std::filesystem;
  const std::string preferencesName = std::string(iOSBundleID) + ".plist";
  std::vector<fs::path> folders;
  platform::files::enumerateDeep(home / kContainersRelative, [&](const fs::path& entry) {
    if (entry.filename() != preferencesName) return;
    if (std::none_of(entry.begin(), entry.end(),
                     [](const fs::path& part) { return part == "Preferences"; })) {
      return;
    }
    folders.push_back(entry.parent_path().parent_path().parent_path() / "Documents");
  });
  return folders;
}

std::string markerNameFor(std::string_view documentFileName) {
  std::string marker;
  marker.reserve(documentFileName.size() + kMarkerEnding.size());
  std::size_t from = 0;
  for (std::size_t at = documentFileName.find(kDocumentEnding); at != std::string_view::npos;
       at = documentFileName.find(kDocumentEnding, from)) {
    marker.append(documentFileName.substr(from, at - from)).append(kMarkerEnding);
    from = at + kDocumentEnding.size();
  }
  marker.append(documentFileName.substr(from));
  return marker;
}

bool isPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace quillory::libraries
