// Translates the standard user defaults into the typed Defaults interface.

#include "platform/macos/MacDefaults.h"

#include "platform/macos/CocoaStrings.h"

#import <CoreFoundation/CoreFoundation.h>
#import <Foundation/Foundation.h>

#include <chrono>
#include <cmath>
#include <utility>
#include <vector>

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

StoreResult MacDefaults::apply(const DefaultsChange& change) {
  @autoreleasepool {
    // Every key and text is translated first, so a change that cannot be
    // written is refused before any of it is.
    std::vector<NSString*> names;
    std::vector<NSString*> texts;  // nil unless the entry sets a string
    for (const DefaultsChange::Entry& entry : change.entries()) {
      NSString* name = toNSString(entry.key);
      if (name == nil) return {"a settings key is not valid UTF-8"};
      NSString* text = nil;
      if (const auto string = entry.value.asString()) {
        text = toNSString(*string);
        if (text == nil) return {"a settings value is not valid UTF-8"};
      }
      names.push_back(name);
      texts.push_back(text);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
      const DefaultsChange::Entry& entry = change.entries()[i];
      if (entry.unless && value(entry.unless->first) == entry.unless->second) continue;
      if (const auto flag = entry.value.asBool()) {
        [store_->defaults setBool:*flag forKey:names[i]];
      } else if (const auto date = entry.value.asDate()) {
        const double seconds = Seconds(date->time_since_epoch()).count();
        [store_->defaults setObject:[NSDate dateWithTimeIntervalSince1970:seconds] forKey:names[i]];
      } else if (texts[i] != nil) {
        [store_->defaults setObject:texts[i] forKey:names[i]];
      } else {
        [store_->defaults removeObjectForKey:names[i]];
      }
    }
  }
  return {};
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
