// Translates the AppKit application object, the system symbol images, the
// user's locale and the main bundle into the plain C++ functions of
// MacApplication.h.

#include "platform/macos/MacApplication.h"

#include "platform/macos/CocoaStrings.h"

#import <AppKit/AppKit.h>

#include <cmath>
#include <utility>

namespace quillory::platform::macos {

namespace {

// Pictures wider or higher than this are refused rather than drawn.
constexpr double kMaximumPixels = 1024.0;

// "q.circle.fill" at the point size and regular weight, as a template image;
// nil when the system has no such symbol.
NSImage* statusSymbol(double pointSize) {
  NSImage* symbol = [NSImage imageWithSystemSymbolName:@"q.circle.fill" accessibilityDescription:@"Quillory"];
  if (symbol == nil) return nil;
  NSImageSymbolConfiguration* configuration =
      [NSImageSymbolConfiguration configurationWithPointSize:pointSize weight:NSFontWeightRegular];
  NSImage* configured = [symbol imageWithSymbolConfiguration:configuration];
  if (configured == nil) return nil;
  [configured setTemplate:YES];
  return configured;
}

// The image drawn into a bitmap of `points` times `pixelScale` pixels, as PNG.
std::optional<std::string> pngOf(NSImage* image, NSSize points, double pixelScale) {
  NSRect rect = NSMakeRect(0, 0, std::ceil(points.width * pixelScale), std::ceil(points.height * pixelScale));
  if (!(rect.size.width >= 1 && rect.size.height >= 1)) return std::nullopt;
  if (rect.size.width > kMaximumPixels || rect.size.height > kMaximumPixels) return std::nullopt;
  CGImageRef picture = [image CGImageForProposedRect:&rect context:nil hints:nil];
  if (picture == nullptr) return std::nullopt;
  NSBitmapImageRep* bitmap = [[NSBitmapImageRep alloc] initWithCGImage:picture];
  NSData* png = [bitmap representationUsingType:NSBitmapImageFileTypePNG properties:@{}];
  if (png == nil || png.length == 0) return std::nullopt;
  return std::string(static_cast<const char*>(png.bytes), png.length);
}

}  // namespace

bool setAccessoryActivationPolicy() {
  @autoreleasepool {
    return [[NSApplication sharedApplication] setActivationPolicy:NSApplicationActivationPolicyAccessory];
  }
}

void activateApplication() {
  @autoreleasepool {
    NSApplication* application = [NSApplication sharedApplication];
    if (@available(macOS 14.0, *)) {
      [application activate];
    } else {
      [application activateIgnoringOtherApps:YES];
    }
  }
}

void bringWindowToFront(void* view, bool takeKeys) {
  if (view == nullptr) return;
  @autoreleasepool {
    NSWindow* window = ((__bridge NSView*)view).window;
    if (window == nil) return;
    // An accessory application is rarely active: its window must stay up
    // when another application is.
    window.hidesOnDeactivate = NO;
    if (takeKeys) {
      [window makeKeyAndOrderFront:nil];
    } else {
      window.level = NSFloatingWindowLevel;
      // On the Space the user is on, also one of an application in full
      // screen, where a timer may otherwise wait for an answer nobody sees.
      // Joining all Spaces excludes moving to the active one, and an
      // auxiliary window is neither a primary full-screen window nor none.
      NSWindowCollectionBehavior behavior = window.collectionBehavior;
      behavior &= ~(NSWindowCollectionBehaviorMoveToActiveSpace |
                    NSWindowCollectionBehaviorFullScreenPrimary | NSWindowCollectionBehaviorFullScreenNone);
      window.collectionBehavior = behavior | NSWindowCollectionBehaviorCanJoinAllSpaces |
                                  NSWindowCollectionBehaviorFullScreenAuxiliary;
      [window orderFrontRegardless];
    }
  }
}

std::optional<StatusIconPng> statusIconPng(double pointSize, double pixelScale) {
  if (!(pointSize > 0) || !(pixelScale > 0) || pointSize * pixelScale > kMaximumPixels) return std::nullopt;
  @autoreleasepool {
    if (NSImage* symbol = statusSymbol(pointSize)) {
      if (auto png = pngOf(symbol, symbol.size, pixelScale)) return StatusIconPng{std::move(*png), true};
    }
    NSImage* icon = [NSImage imageNamed:NSImageNameApplicationIcon];
    if (icon == nil) return std::nullopt;
    if (auto png = pngOf(icon, NSMakeSize(pointSize, pointSize), pixelScale)) {
      return StatusIconPng{std::move(*png), false};
    }
    return std::nullopt;
  }
}

UserTimeLocale userTimeLocale() {
  @autoreleasepool {
    NSLocale* locale = [NSLocale currentLocale];
    UserTimeLocale result{toStdString(locale.localeIdentifier).value_or(""), std::nullopt};
    NSString* hour = [NSDateFormatter dateFormatFromTemplate:@"j" options:0 locale:locale];
    if (hour != nil) {
      NSCharacterSet* twentyFour = [NSCharacterSet characterSetWithCharactersInString:@"Hk"];
      result.uses24Hour = [hour rangeOfCharacterFromSet:twentyFour].location != NSNotFound;
    }
    return result;
  }
}

std::optional<std::string> mainBundleInfoString(const std::string& key) {
  @autoreleasepool {
    NSString* name = [[NSString alloc] initWithBytes:key.data()
                                              length:key.size()
                                            encoding:NSUTF8StringEncoding];
    if (name == nil) return std::nullopt;
    id value = [NSBundle mainBundle].infoDictionary[name];
    if (![value isKindOfClass:[NSString class]]) return std::nullopt;  // also nil
    return toStdString(value);
  }
}

std::optional<std::string> mainBundlePath() {
  @autoreleasepool {
    return toStdString([NSBundle mainBundle].bundlePath);
  }
}

}  // namespace quillory::platform::macos
