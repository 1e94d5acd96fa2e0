#pragma once
// Launch at login over the ServiceManagement main-app service (macOS 13 and
// later). The status is the service's own status value; register and
// unregister return the error's default textual description on failure.
//
// Threading: main thread.

#include "platform/LoginItemService.h"

namespace quillory::platform::macos {

class MacLoginItemService final : public LoginItemService {
 public:
  LoginItemStatus status() const override;
  std::optional<std::string> registerItem() override;
  std::optional<std::string> unregisterItem() override;
};

}  // namespace quillory::platform::macos
