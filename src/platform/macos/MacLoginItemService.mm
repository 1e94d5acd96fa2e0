// Translates the ServiceManagement main-app service into LoginItemService.

#include "platform/macos/MacLoginItemService.h"

#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>

namespace quillory::platform::macos {

namespace {

// The error's description in the user's language.
std::string describe(NSError* error) {
  if (error == nil) return "unknown error";
  NSData* utf8 = [error.localizedDescription dataUsingEncoding:NSUTF8StringEncoding];
  if (utf8 == nil || utf8.length == 0) return "unknown error";
  return std::string(static_cast<const char*>(utf8.bytes), utf8.length);
}

}  // namespace

LoginItemStatus MacLoginItemService::status() const {
  @autoreleasepool {
    switch ([SMAppService mainAppService].status) {
      case SMAppServiceStatusNotRegistered:
        return LoginItemStatus::notRegistered;
      case SMAppServiceStatusEnabled:
        return LoginItemStatus::enabled;
      case SMAppServiceStatusRequiresApproval:
        return LoginItemStatus::requiresApproval;
      case SMAppServiceStatusNotFound:
        return LoginItemStatus::notFound;
    }
    return LoginItemStatus::notFound;  // a status this system does not know yet
  }
}

std::optional<std::string> MacLoginItemService::registerItem() {
  @autoreleasepool {
    NSError* error = nil;
    if ([[SMAppService mainAppService] registerAndReturnError:&error]) return std::nullopt;
    return describe(error);
  }
}

std::optional<std::string> MacLoginItemService::unregisterItem() {
  @autoreleasepool {
    NSError* error = nil;
    if ([[SMAppService mainAppService] unregisterAndReturnError:&error]) return std::nullopt;
    return describe(error);
  }
}

void MacLoginItemService::openApprovalSettings() {
  @autoreleasepool {
    [SMAppService openSystemSettingsLoginItems];
  }
}

}  // namespace quillory::platform::macos
