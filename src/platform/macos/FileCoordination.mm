#include "platform/macos/FileCoordination.h"

#import <Foundation/Foundation.h>

#include <cerrno>

namespace quillory::platform::macos {
namespace {

// The POSIX error inside a Cocoa error, if there is one.
std::error_code errorCodeOf(NSError* error) {
  for (NSError* e = error; e != nil; e = e.userInfo[NSUnderlyingErrorKey]) {
    if ([e.domain isEqualToString:NSPOSIXErrorDomain]) {
      return std::error_code(static_cast<int>(e.code), std::generic_category());
    }
  }
  return std::error_code(EIO, std::generic_category());
}

}  // namespace

std::error_code coordinatedChange(
    const std::filesystem::path& item, CoordinatedChange kind,
    const std::function<std::error_code(const std::filesystem::path&)>& change) {
  @autoreleasepool {
    NSURL* url = [NSURL fileURLWithFileSystemRepresentation:item.c_str() isDirectory:NO relativeToURL:nil];
    NSFileCoordinator* coordinator = [[NSFileCoordinator alloc] initWithFilePresenter:nil];
    const NSFileCoordinatorWritingOptions options = kind == CoordinatedChange::deleting
                                                        ? NSFileCoordinatorWritingForDeleting
                                                        : NSFileCoordinatorWritingForReplacing;
    const auto* run = &change;  // the block runs before the call returns
    __block std::error_code result;
    __block bool ran = false;
    NSError* error = nil;
    [coordinator coordinateWritingItemAtURL:url
                                    options:options
                                      error:&error
                                 byAccessor:^(NSURL* current) {
                                   ran = true;
                                   result = (*run)(std::filesystem::path(current.fileSystemRepresentation));
                                 }];
    if (!ran) return errorCodeOf(error);
    return result;
  }
}

}  // namespace quillory::platform::macos
