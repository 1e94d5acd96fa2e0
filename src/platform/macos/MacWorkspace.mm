// Translates NSWorkspace's running applications and its activation and
// termination notifications into bundle identifiers.

#include "platform/macos/MacWorkspace.h"

#import <AppKit/AppKit.h>

#include <utility>

namespace quillory::platform::macos {

namespace {

// The string as UTF-8, or none for nil or a string UTF-8 cannot hold.
std::optional<std::string> toStdString(NSString* string) {
  if (string == nil) return std::nullopt;
  NSData* utf8 = [string dataUsingEncoding:NSUTF8StringEncoding];
  if (utf8 == nil) return std::nullopt;
  if (utf8.length == 0) return std::string();
  return std::string(static_cast<const char*>(utf8.bytes), utf8.length);
}

// The bundle identifier of the application a workspace notification names.
std::optional<std::string> bundleIdentifierOf(NSNotification* notification) {
  NSDictionary* info = notification.userInfo;
  if (info == nil) return std::nullopt;
  id application = info[NSWorkspaceApplicationKey];
  if (![application isKindOfClass:[NSRunningApplication class]]) return std::nullopt;  // also nil
  NSRunningApplication* running = application;
  return toStdString(running.bundleIdentifier);
}

}  // namespace

struct MacWorkspace::Registrations {
  NSMutableArray* tokens = [NSMutableArray array];

  void add(NSNotificationName name, Workspace::Observer observer) {
    if (!observer) return;
    id token = [[NSWorkspace sharedWorkspace].notificationCenter
        addObserverForName:name
                    object:nil
                     queue:[NSOperationQueue mainQueue]
                usingBlock:^(NSNotification* notification) {
                  observer(bundleIdentifierOf(notification));
                }];
    [tokens addObject:token];
  }
};

MacWorkspace::MacWorkspace() : registrations_(std::make_unique<Registrations>()) {}

MacWorkspace::~MacWorkspace() {
  @autoreleasepool {
    NSNotificationCenter* centre = [NSWorkspace sharedWorkspace].notificationCenter;
    for (id token in registrations_->tokens) [centre removeObserver:token];
  }
}

std::vector<std::optional<std::string>> MacWorkspace::runningBundleIdentifiers() const {
  std::vector<std::optional<std::string>> identifiers;
  @autoreleasepool {
    for (NSRunningApplication* application in [NSWorkspace sharedWorkspace].runningApplications) {
      identifiers.push_back(toStdString(application.bundleIdentifier));
    }
  }
  return identifiers;
}

void MacWorkspace::observeActivation(Observer observer) {
  @autoreleasepool {
    registrations_->add(NSWorkspaceDidActivateApplicationNotification, std::move(observer));
  }
}

void MacWorkspace::observeTermination(Observer observer) {
  @autoreleasepool {
    registrations_->add(NSWorkspaceDidTerminateApplicationNotification, std::move(observer));
  }
}

}  // namespace quillory::platform::macos
