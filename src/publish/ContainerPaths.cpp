#include "publish/ContainerPaths.h"

#include <algorithm>

#include "platform/Files.h"

namespace quillory::publish {

namespace {
constexpr std::string_view kDocumentEnding = ".json";
constexpr std::string_view kMarkerEnding = "_updated.txt";
}  // namespace

std::vector<std::filesystem::path> appContainerDocumentsFolders(const std::filesystem::path& home) {
  namespace fs = std::filesystem;
  const std::string preferencesName = std::string(kMobileBundleID) + ".plist";
  std::vector<fs::path> folders;
  platform::files::enumerateDeep(
      home / kContainersRelative,
      [&](const fs::path& entry) {
        if (entry.filename() != preferencesName) return;
        if (std::none_of(entry.begin(), entry.end(),
                         [](const fs::path& part) { return part == "Preferences"; })) {
          return;
        }
        folders.push_back(entry.parent_path().parent_path().parent_path() / "Documents");
      },
      preferencesName);  // only the preferences files are visited: no path is made for the rest
  return folders;
}

std::string markerNameFor(std::string_view documentFileName) {
  if (documentFileName.ends_with(kDocumentEnding)) documentFileName.remove_suffix(kDocumentEnding.size());
  return std::string(documentFileName).append(kMarkerEnding);
}

bool isPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace quillory::publish
