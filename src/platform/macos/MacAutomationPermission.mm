// Translates AEDeterminePermissionToAutomateTarget into AutomationPermission.

#include "platform/macos/MacAutomationPermission.h"

#import <CoreServices/CoreServices.h>
#import <Foundation/Foundation.h>

namespace quillory::platform::macos {

AutomationConsent MacAutomationPermission::request(const std::string& bundleIdentifier) {
  @autoreleasepool {
    NSString* identifier = [[NSString alloc] initWithBytes:bundleIdentifier.data()
                                                    length:bundleIdentifier.size()
                                                  encoding:NSUTF8StringEncoding];
    if (identifier == nil) return AutomationConsent::undetermined;
    NSAppleEventDescriptor* target = [NSAppleEventDescriptor descriptorWithBundleIdentifier:identifier];
    if (target == nil || target.aeDesc == nullptr) return AutomationConsent::undetermined;
    // Blocks until the user answers the system's question, when it is asked.
    const OSStatus status =
        AEDeterminePermissionToAutomateTarget(target.aeDesc, typeWildCard, typeWildCard, true);
    switch (status) {
      case noErr:
        return AutomationConsent::granted;
      case errAEEventNotPermitted:  // -1743
        return AutomationConsent::refused;
      default:  // procNotFound (-600): not running; or the system could not tell
        return AutomationConsent::undetermined;
    }
  }
}

}  // namespace quillory::platform::macos
