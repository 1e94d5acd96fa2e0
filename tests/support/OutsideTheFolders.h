#pragma once
// What lies below a home folder outside the helper's folders, for comparing
// before and after: the helper must change nothing there.

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/Files.h"

namespace quillory::testing {

// Every entry below `home` that is neither inside one of `folders` nor a
// folder on the way to one, by its path relative to `home`; a file's entry
// also holds its bytes, so a changed file shows as well.
inline std::set<std::string> outsideTheFolders(const std::filesystem::path& home,
                                               const std::vector<std::filesystem::path>& folders) {
  std::set<std::string> found;
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(home, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string path = it->path().string();
    bool skip = false;
    for (const std::filesystem::path& folder : folders) {
      const std::string f = folder.string();
      skip = skip || path == f || path.starts_with(f + "/") || f.starts_with(path + "/");
    }
    if (skip) continue;
    std::string entry = std::filesystem::relative(it->path(), home).string();
    if (!it->is_directory(ec) && !it->is_symlink(ec)) {
      // append, not " " + ...: GCC 12 warns -Wrestrict about that at -O2
      entry.append(" ").append(platform::files::readFile(it->path()).value_or("<unreadable>"));
    }
    found.insert(entry);
  }
  return found;
}

}  // namespace quillory::testing
