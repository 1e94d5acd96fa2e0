#include "engine/IdleRule.h"

#include <algorithm>
#include <cmath>

namespace quillory::engine {

double secondsFromTo(platform::Date from, platform::Date to) {
  using Seconds = std::chrono::duration<double>;
  return Seconds(to.time_since_epoch()).count() - Seconds(from.time_since_epoch()).count();
}

std::optional<std::string> IdleRule::take(platform::Date now, bool autoSyncEnabled) {
  if (!autoSyncEnabled || triggered_) return std::nullopt;
  const double idle = std::chrono::duration<double>(kIdleTime).count();
  const double sinceActive = secondsFromTo(lastActive_, now);
  if (!(sinceActive >= idle && secondsFromTo(lastExport_, now) >= idle)) return std::nullopt;
  triggered_ = true;
  // Whole minutes, toward zero; bounded so that a clock thrown far forward
  // cannot overflow the conversion.
  const auto minutes = static_cast<long long>(std::min(std::trunc(sinceActive / 60.0), 1e15));
  return "idle " + std::to_string(minutes) + " min";
}

}  // namespace quillory::engine
