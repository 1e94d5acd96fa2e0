#include "support/OutsideTheFolders.h"

#include "platform/Files.h"

namespace quillory::testing {

namespace fs = std::filesystem;

std::set<std::string> outsideTheFolders(const fs::path& home, const std::vector<fs::path>& folders) {
  std::set<std::string> found;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(home, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string path = it->path().string();
    bool skip = false;
    for (const fs::path& folder : folders) {
      const std::string f = folder.string();
      skip = skip || path == f || path.starts_with(f + "/") || f.starts_with(path + "/");
    }
    if (skip) continue;
    std::string entry = fs::relative(it->path(), home).string();
    if (!it->is_directory(ec) && !it->is_symlink(ec)) {
      // append, not " " + ...: GCC 12 warns -Wrestrict about that at -O2
      entry.append(" ").append(platform::files::readFile(it->path()).value_or("<unreadable>"));
    }
    found.insert(entry);
  }
  return found;
}

}  // namespace quillory::testing
