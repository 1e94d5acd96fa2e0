#pragma once
// The texts about libraries that the menu and quillory-helper-cli both show:
// the line naming the open library ("Library: " and its name, or "Open Kettle
// Ledger to sync" while none is known) and the text for an empty list of
// libraries. Pure.

#include <optional>
#include <string>

namespace quillory::presentation {

inline constexpr const char* kOpenHostText = "Open Kettle Ledger to sync";
inline constexpr const char* kNoLibrariesText = "No libraries seen yet";

// `name` is the library's name as it is to be shown (the menu shortens a long
// one first).
std::string libraryLine(const std::optional<std::string>& name);

}  // namespace quillory::presentation
