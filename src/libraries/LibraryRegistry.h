#pragma once
// The opt-in registry as stored: one bool "sync_library_<name>" per library.

#include <string>
#include <vector>

namespace quillory::platform {
class Defaults;
}

namespace quillory::libraries {

// True only when the key holds the bool true.
bool isLibraryEnabled(const platform::Defaults& defaults, const std::string& name);

// Names of all "sync_library_" keys, whatever their value, ascending by the
// code points of the canonically composed names ("A", "a", "b").
std::vector<std::string> knownLibraries(const platform::Defaults& defaults);

}  // namespace quillory::libraries
