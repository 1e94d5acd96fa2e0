#include "libraries/LibraryRegistry.h"

#include <algorithm>

#include "libraries/LibraryKeys.h"
#include "platform/Defaults.h"
#include "platform/Unicode.h"

namespace quillory::libraries {

bool isLibraryEnabled(const platform::Defaults& defaults, const std::string& name) {
  return defaults.value(syncLibraryKey(name)).asBool().value_or(false);
}

std::vector<std::string> knownLibraries(const platform::Defaults& defaults) {
  std::vector<std::string> names;
  for (const std::string& key : defaults.keys()) {
    if (key.starts_with(kSyncLibraryPrefix)) names.push_back(key.substr(kSyncLibraryPrefix.size()));
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return platform::canonicallyLess(a, b); });
  return names;
}

}  // namespace quillory::libraries
