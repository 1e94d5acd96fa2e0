// Translates the standard user defaults into the typed Defaults interface.

#include "platform/macos/MacDefaults.h"

#include "platform/macos/CocoaStrings.h"

#import <CoreFoundation/CoreFoundation.h>
#import <Foundation/Foundation.h>

#include <chrono>
#include <cmath>
#include <utility>

namespace quillory::platform::macos {

namespace {

using Seconds = std::chrono::duration<double>;

// The UTF-8 text as a string, or nil when it is not valid UTF-8.
NSString* toNSString(const std::string& text) {
  return [[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding];
}

// The instant, or none when the clock's duration cannot hold it.
std::optional<Date> toDate(NSDate* date) {
  const double seconds = date.timeIntervalSince1970;
  const double limit = std::chrono::duration_cast<Seconds>(Date::duration::max()).count() / 2;
  if (!std::isfinite(seconds) || std::fabs(seconds) > limit) return std::nullopt;
  return Date(std::chrono::round<Date::duration>(Seconds(seconds)));
}

bool isBoolean(id object) {
  return [object isKindOfClass:[NSNumber class]] &&
         CFGetTypeID((__bridge CFTypeRef)object) == CFBooleanGetTypeID();
}

}  // namespace

struct MacDefaults::Store {
  NSUserDefaults* defaults = nil;
};

MacDefaults::MacDefaults(const std::string& domain) : store_(std::make_unique<Store>()) {
  @autoreleasepool {
    // A suite named like the main bundle is refused: that one is the standard
    // defaults.
    NSString* suite = domain.empty() ? nil : toNSString(domain);
    if (suite != nil && ![suite isEqualToString:[NSBundle mainBundle].bundleIdentifier]) {
      store_->defaults = [[NSUserDefaults alloc] initWithSuiteName:suite];
    }
    if (store_->defaults == nil) store_->defaults = [NSUserDefaults standardUserDefaults];
  }
}

MacDefaults::~MacDefaults() = default;

DefaultsValue MacDefaults::value(const std::string& key) const {
  @autoreleasepool {
    NSString* name = toNSString(key);
    if (name == nil) return DefaultsValue();
    id object = [store_->defaults objectForKey:name];
    if (object == nil) return DefaultsValue();
    if (isBoolean(object)) {
      NSNumber* number = object;
      return DefaultsValue(static_cast<bool>(number.boolValue));
    }
    if ([object isKindOfClass:[NSString class]]) {
      if (auto text = toStdString(object)) return DefaultsValue(std::move(*text));
      return DefaultsValue(OtherValue{});
    }
    if ([object isKindOfClass:[NSDate class]]) {
      if (auto date = toDate(object)) return DefaultsValue(*date);
      return DefaultsValue(OtherValue{});
    }
    return DefaultsValue(OtherValue{});
  }
}

void MacDefaults::setBool(const std::string& key, bool value) {
  @autoreleasepool {
    NSString* name = toNSString(key);
    if (name == nil) return;
    [store_->defaults setBool:value forKey:name];
  }
}

void MacDefaults::setString(const std::string& key, const std::string& value) {
  @autoreleasepool {
    NSString* name = toNSString(key);
    NSString* text = toNSString(value);
    if (name == nil || text == nil) return;
    [store_->defaults setObject:text forKey:name];
  }
}

void MacDefaults::setDate(const std::string& key, Date value) {
  @autoreleasepool {
    NSString* name = toNSString(key);
    if (name == nil) return;
    const double seconds = Seconds(value.time_since_epoch()).count();
    [store_->defaults setObject:[NSDate dateWithTimeIntervalSince1970:seconds] forKey:name];
  }
}

void MacDefaults::remove(const std::string& key) {
  @autoreleasepool {
    NSString* name = toNSString(key);
    if (name == nil) return;
    [store_->defaults removeObjectForKey:name];
  }
}

std::vector<std::string> MacDefaults::keys() const {
  std::vector<std::string> names;
  @autoreleasepool {
    for (id key in [store_->defaults dictionaryRepresentation]) {
      if (![key isKindOfClass:[NSString class]]) continue;
      if (auto name = toStdString(key)) names.push_back(std::move(*name));
    }
  }
  return names;
}

}  // namespace quillory::platform::macos
