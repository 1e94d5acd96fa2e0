#pragma once
// When the engine syncs by itself: with auto-sync on, once per activation of
// the host, when both its last activation and the last successful export lie
// at least three minutes back. The launch counts as an activation.
//
// A plain value: the caller passes the time in, keeps it under its own lock,
// and runs the sync that `take` asks for.

#include <chrono>
#include <optional>
#include <string>

#include "platform/Defaults.h"

namespace quillory::engine {

// The "distant past" that the last export starts from: 1700-01-01T00:00:00Z.
// Early enough that every idle test passes its export-age condition, late
// enough that a nanosecond time point can subtract it from any instant of the
// next centuries without overflow (the time point's own minimum cannot).
inline constexpr platform::Date kDistantPast =
    std::chrono::sys_days{std::chrono::year{1700} / std::chrono::January / 1};

// Seconds from `from` to `to`, computed on each instant's own count so that
// it never overflows, whatever the two instants are.
double secondsFromTo(platform::Date from, platform::Date to);

class IdleRule {
 public:
  static constexpr std::chrono::minutes kIdleTime{3};

  explicit IdleRule(platform::Date launched) : lastActive_(launched) {}

  // The host became the active application: the rule may fire once more.
  void hostActivated(platform::Date now) {
    lastActive_ = now;
    triggered_ = false;
  }
  void exported(platform::Date at) { lastExport_ = at; }

  // The reason of the sync due at `now` ("idle <whole minutes since the
  // activation> min"), marking this activation used; none when none is due.
  std::optional<std::string> take(platform::Date now, bool autoSyncEnabled);

  platform::Date lastActive() const { return lastActive_; }
  platform::Date lastExport() const { return lastExport_; }
  bool triggered() const { return triggered_; }

 private:
  platform::Date lastActive_;
  platform::Date lastExport_ = kDistantPast;
  bool triggered_ = false;
};

}  // namespace quillory::engine
