#pragma once
// The menu's status line and whether "Sync Now" is enabled, from the sync
// state, in this precedence: a running sync ("Syncing…", "Sync Now" disabled),
// an error ("⚠ " and its text), the current library's last sync ("Last sync: "
// and the relative time), otherwise "Never synced". Pure.

#include <functional>
#include <optional>
#include <string>

#include "platform/Defaults.h"

namespace quillory::app {

struct StatusLine {
  std::string title;
  bool syncNowEnabled = true;
  bool operator==(const StatusLine&) const = default;
};

StatusLine statusLineFor(bool isSyncing, const std::optional<std::string>& lastError,
                         const std::optional<platform::Date>& lastSync,
                         const std::function<std::string(platform::Date)>& relativeText);

}  // namespace quillory::app
