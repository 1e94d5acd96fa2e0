#pragma once
// What lies below a home folder outside the helper's folders, for comparing
// before and after: the helper must change nothing there.

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace quillory::testing {

// Every entry below `home` that is neither inside one of `folders` nor a
// folder on the way to one, by its path relative to `home`; a file's entry
// also holds its bytes, so a changed file shows as well.
std::set<std::string> outsideTheFolders(const std::filesystem::path& home,
                                        const std::vector<std::filesystem::path>& folders);

}  // namespace quillory::testing
