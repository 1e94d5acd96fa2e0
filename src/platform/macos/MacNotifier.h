#pragma once
// Notifications through the user notification centre
// (UNUserNotificationCenter). The permission to show them is asked for at
// the first notification, not at launch: a helper whose syncs never fail
// never asks. Each call returns at once; the system answers on its own
// queue, and a refused permission drops the notification (macOS only).
// Threading: main thread.

#include <string>

#include "platform/Notifier.h"

namespace quillory::platform::macos {

class MacNotifier final : public Notifier {
 public:
  void notify(const std::string& title, const std::string& body) override;
};

}  // namespace quillory::platform::macos
