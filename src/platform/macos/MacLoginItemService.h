#pragma once
// Launch at login over the ServiceManagement main-app service (macOS 13 and
// later). The status is the service's own status value; register and
// unregister return the error's localized description on failure; the
// approval opens System Settings at Login Items.
//
// Threading: main thread.

#include "platform/LoginItemService.h"

namespace quillory::platform::macos {

class MacLoginItemService final : public LoginItemService {
 public:
  LoginItemStatus status() const override;
  std::optional<std::string> registerItem() override;
  std::optional<std::string> unregisterItem() override;
  void openApprovalSettings() override;
};

}  // namespace quillory::platform::macos
