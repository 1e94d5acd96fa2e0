#pragma once
// When the engine syncs by itself: with auto-sync on, once per activation of
// the host, when both its last activation and the last successful export lie
// at least three minutes back. The launch counts as an activation.
//
// A plain value: the caller passes the time in, keeps it under its own lock,
// and runs the sync that `take` asks for. The times are readings of the
// monotonic clock, so that setting the wall clock neither hastens nor holds
// back an idle sync.

#include <chrono>
#include <optional>
#include <string>

#include "platform/Clock.h"

namespace quillory::engine {

class IdleRule {
 public:
  static constexpr std::chrono::minutes kIdleTime{3};

  explicit IdleRule(platform::MonotonicTime launched) : lastActive_(launched) {}

  // The host became the active application: the rule may fire once more.
  void hostActivated(platform::MonotonicTime now) {
    lastActive_ = now;
    triggered_ = false;
  }
  void exported(platform::MonotonicTime at) { lastExport_ = at; }

  // The reason of the sync due at `now` ("idle <whole minutes since the
  // activation> min"), marking this activation used; none when none is due.
  std::optional<std::string> take(platform::MonotonicTime now, bool autoSyncEnabled);

  platform::MonotonicTime lastActive() const { return lastActive_; }
  // None until an export succeeded in this process.
  std::optional<platform::MonotonicTime> lastExport() const { return lastExport_; }
  bool triggered() const { return triggered_; }

 private:
  platform::MonotonicTime lastActive_;
  std::optional<platform::MonotonicTime> lastExport_;
  bool triggered_ = false;
};

}  // namespace quillory::engine
