#pragma once
// Notifications through the user notification centre
// (UNUserNotificationCenter). The permission to show them is asked for at
// the first notification, not at launch: a helper whose syncs never fail
// never asks. Each call returns at once; the system answers on its own
// queue, and a refused permission drops the notification (macOS only).
// Threading: main thread.

#include <functional>
#include <string>

#include "platform/Notifier.h"

namespace quillory::platform::macos {

// A click on a notification calls `clicked` on the main thread (the helper
// opens its menu). Make it before the application finishes launching, so
// that a click that launched the helper is delivered too.
class MacNotifier final : public Notifier {
 public:
  explicit MacNotifier(std::function<void()> clicked);
  ~MacNotifier() override;
  MacNotifier(const MacNotifier&) = delete;
  MacNotifier& operator=(const MacNotifier&) = delete;
  void notify(const std::string& title, const std::string& body) override;

 private:
  void* delegate_;  // the notification centre's delegate, retained
};

}  // namespace quillory::platform::macos
