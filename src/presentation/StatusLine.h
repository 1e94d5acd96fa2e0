#pragma once
// The status line and whether "Sync Now" is enabled, from the sync state, in
// this precedence: a running sync ("Syncing…", "Sync Now" disabled), an error
// ("⚠ " and its text), a standing notice (why no sync can happen here, such
// as a missing script launcher; its text as it is), the current library's
// last sync ("Last sync: " and the relative time), otherwise "Never synced". The menu shows it under the
// library line; quillory-helper-cli prints it. Pure.

#include <functional>
#include <optional>
#include <string>

#include "platform/Defaults.h"

namespace quillory::presentation {

inline constexpr const char* kNeverSyncedText = "Never synced";

struct StatusLine {
  std::string title;
  bool syncNowEnabled = true;
  bool operator==(const StatusLine&) const = default;
};

StatusLine statusLineFor(bool isSyncing, const std::optional<std::string>& lastError,
                         const std::optional<std::string>& notice,
                         const std::optional<platform::Date>& lastSync,
                         const std::function<std::string(platform::Date)>& relativeText);

}  // namespace quillory::presentation
