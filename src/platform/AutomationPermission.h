#pragma once
// The user's permission for this program to control another application by
// Apple events (macOS: Privacy & Security › Automation), which the scripts
// sent to that application need.
//
// `request` answers at once when the user has already decided; otherwise it
// asks the user and blocks until they answer, which may take minutes. It is
// called on a worker thread (never the main thread) and never inside a
// script's time limit.
//
// Threading: any thread but the main thread.

#include <string>

namespace quillory::platform {

enum class AutomationConsent {
  granted,       // scripts may be sent
  refused,       // the user said no or withdrew it: a script would fail (-1743)
  undetermined,  // no answer to be had now (the application is not running, the system failed)
};

class AutomationPermission {
 public:
  virtual ~AutomationPermission() = default;
  virtual AutomationConsent request(const std::string& bundleIdentifier) = 0;
};

// Where the system asks for no such permission (Linux): always granted.
class NoAutomationPermissionNeeded final : public AutomationPermission {
 public:
  AutomationConsent request(const std::string&) override { return AutomationConsent::granted; }
};

}  // namespace quillory::platform
