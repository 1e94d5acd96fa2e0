#pragma once
// The process environment as the logic sees it: a lookup passed in by the
// composition root (tests pass a table), never read from a global.

#include <functional>
#include <optional>
#include <string>

namespace quillory::platform {

// One variable's value, or none when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

}  // namespace quillory::platform
