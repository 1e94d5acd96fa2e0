#pragma once
// Notifications outside the menu: a short message the desktop shows by
// itself (a banner, the notification centre), for what the user should learn
// without opening the menu.
//
// Contract: `notify` hands the notification over and returns at once; it
// never waits for the desktop's answer, and a desktop without notifications
// drops it. Threading: main thread.

#include <string>

namespace quillory::platform {

class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual void notify(const std::string& title, const std::string& body) = 0;
};

}  // namespace quillory::platform
