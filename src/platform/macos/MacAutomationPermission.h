#pragma once
// The permission to control an application by Apple events, through
// AEDeterminePermissionToAutomateTarget for every event of the application
// (typeWildCard), asking the user when they have not decided yet. The
// scripts run through osascript, a child of this program, so the system
// asks on this program's behalf and counts the answer for them.
//
// Threading: any thread but the main thread (it blocks while the user is
// asked).

#include "platform/AutomationPermission.h"

namespace quillory::platform::macos {

class MacAutomationPermission final : public AutomationPermission {
 public:
  AutomationConsent request(const std::string& bundleIdentifier) override;
};

}  // namespace quillory::platform::macos
