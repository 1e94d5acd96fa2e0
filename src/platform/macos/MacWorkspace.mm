// Translates NSWorkspace's running applications and its activation and
// termination notifications into bundle identifiers.

#include "platform/macos/MacWorkspace.h"

#include "platform/macos/CocoaStrings.h"

#import <AppKit/AppKit.h>

#include <utility>

namespace quillory::platform::macos {

namespace {

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
