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

}  // namespace quillory::platform::macos

// Receives the user's click on one of the helper's notifications and hands
// it to the main thread (the centre calls its delegate on a queue of its own).
@interface QHNotificationClicks : NSObject <UNUserNotificationCenterDelegate>
@property(nonatomic) std::function<void()> clicked;
@end

@implementation QHNotificationClicks
- (void)userNotificationCenter:(UNUserNotificationCenter*)center
    didReceiveNotificationResponse:(UNNotificationResponse*)response
             withCompletionHandler:(void (^)(void))completionHandler {
  (void)center;
  if ([response.actionIdentifier isEqualToString:UNNotificationDefaultActionIdentifier]) {
    std::function<void()> clicked = self.clicked;
    [NSOperationQueue.mainQueue addOperationWithBlock:^{
      if (clicked) clicked();
    }];
  }
  completionHandler();
}
@end

namespace quillory::platform::macos {

MacNotifier::MacNotifier(std::function<void()> clicked) {
  QHNotificationClicks* delegate = [[QHNotificationClicks alloc] init];
  delegate.clicked = std::move(clicked);
  // The centre holds its delegate weakly: this object keeps it alive.
  [UNUserNotificationCenter currentNotificationCenter].delegate = delegate;
  delegate_ = (__bridge_retained void*)delegate;
}

MacNotifier::~MacNotifier() {
  [UNUserNotificationCenter currentNotificationCenter].delegate = nil;
  QHNotificationClicks* delegate = (__bridge_transfer QHNotificationClicks*)delegate_;
  (void)delegate;
}

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
