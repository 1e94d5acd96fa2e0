// Translates notifications into user notification requests.

#include "platform/macos/MacNotifier.h"

#import <Foundation/Foundation.h>
#import <UserNotifications/UserNotifications.h>

namespace quillory::platform::macos {

namespace {

NSString* toNSString(const std::string& text) {
  NSString* string = [[NSString alloc] initWithBytes:text.data()
                                              length:text.size()
                                            encoding:NSUTF8StringEncoding];
  return string ?: @"";
}

}  // namespace

void MacNotifier::notify(const std::string& title, const std::string& body) {
  @autoreleasepool {
    UNUserNotificationCenter* center = [UNUserNotificationCenter currentNotificationCenter];
    UNMutableNotificationContent* content = [[UNMutableNotificationContent alloc] init];
    content.title = toNSString(title);
    content.body = toNSString(body);
    // One identifier: a newer failure replaces the older one in the list.
    UNNotificationRequest* request =
        [UNNotificationRequest requestWithIdentifier:@"test.quillory.helper.sync-failure"
                                             content:content
                                             trigger:nil];
    // Asked for once; the system remembers the answer and answers at once
    // afterwards, so every notification goes through the same request.
    [center requestAuthorizationWithOptions:UNAuthorizationOptionAlert
                          completionHandler:^(BOOL granted, NSError* _Nullable) {
                            if (granted) [center addNotificationRequest:request withCompletionHandler:nil];
                          }];
  }
}

}  // namespace quillory::platform::macos
