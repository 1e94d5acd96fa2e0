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
  const fs::path root = home / kContainersRelative;
  platform::files::enumerateDeep(
      root,
      [&](const fs::path& entry) {
        if (entry.filename() != preferencesName) return;
        // Only the path below Library/Containers counts: <container>/.../
        // Preferences/.../<file>. The Documents folder three levels up must
        // lie inside a container, never in Library/Containers itself or above.
        const fs::path below = entry.lexically_relative(root);
        const std::vector<fs::path> parts(below.begin(), below.end());
        if (parts.size() < 4 || std::find(parts.begin(), parts.end() - 1, "Preferences") == parts.end() - 1) {
          return;
        }
        folders.push_back(entry.parent_path().parent_path().parent_path() / "Documents");
      },
      preferencesName);  // only the preferences files are visited: no path is made for the rest
  return folders;
}

bool iCloudDriveSeemsOff(const std::filesystem::path& home) {
  const std::filesystem::path documents = containerDocumentsFolder(home);  // .../<container>/Documents
  const std::filesystem::path container = documents.parent_path();
  const std::filesystem::path mobileDocuments = container.parent_path();
  const std::optional<std::vector<std::string>> entries = platform::files::listFolder(mobileDocuments);
  if (!entries) return !platform::files::exists(mobileDocuments);  // one that cannot be read proves nothing
  return std::all_of(entries->begin(), entries->end(), [&](const std::string& name) {
    return name.starts_with('.') || name == container.filename();
  });
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
