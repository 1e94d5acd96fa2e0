#include "presentation/StatusLine.h"

namespace quillory::presentation {

StatusLine statusLineFor(bool isSyncing, const std::optional<std::string>& lastError,
                         const std::optional<std::string>& notice,
                         const std::optional<platform::Date>& lastSync,
                         const std::function<std::string(platform::Date)>& relativeText) {
  if (isSyncing) return {"Syncing\u2026", false};
  if (lastError) return {"\u26A0 " + *lastError, true};
  if (notice) return {*notice, true};
  if (lastSync) return {"Last sync: " + relativeText(*lastSync), true};
  return {kNeverSyncedText, true};
}

}  // namespace quillory::presentation
