#pragma once
// NSString to std::string for the Objective-C++ sources of this folder only
// (the headers of our interfaces carry no Cocoa type).

#ifndef __OBJC__
#error "CocoaStrings.h is for Objective-C++ (.mm) sources"
#endif

#import <Foundation/Foundation.h>

#include <optional>
#include <string>

namespace quillory::platform::macos {

// The string as UTF-8, or none for nil or a string UTF-8 cannot hold.
inline std::optional<std::string> toStdString(NSString* string) {
  if (string == nil) return std::nullopt;
  NSData* utf8 = [string dataUsingEncoding:NSUTF8StringEncoding];
  if (utf8 == nil) return std::nullopt;
  if (utf8.length == 0) return std::string();
  return std::string(static_cast<const char*>(utf8.bytes), utf8.length);
}

}  // namespace quillory::platform::macos
