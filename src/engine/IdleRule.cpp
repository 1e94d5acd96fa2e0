#include "engine/IdleRule.h"

namespace quillory::engine {

std::optional<std::string> IdleRule::take(platform::MonotonicTime now, bool autoSyncEnabled) {
  if (!autoSyncEnabled || triggered_) return std::nullopt;
  const auto sinceActive = now - lastActive_;
  if (sinceActive < kIdleTime || (lastExport_ && now - *lastExport_ < kIdleTime)) return std::nullopt;
  triggered_ = true;
  // Whole minutes, toward zero.
  return "idle " + std::to_string(std::chrono::duration_cast<std::chrono::minutes>(sinceActive).count()) +
         " min";
}

}  // namespace quillory::engine
