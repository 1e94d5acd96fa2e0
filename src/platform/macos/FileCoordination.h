#pragma once
// Writes and removals coordinated through NSFileCoordinator, so that the
// iCloud daemon (and any other file presenter) sees a replaced file only once
// the replacement is complete, and a removed one only once it is gone: it
// waits for the coordinated access to end before it reads or uploads the
// item. Built on Apple only; on other systems the file functions of
// platform/posix/Files.cpp write directly. No Cocoa type in this header.
//
// Threading: blocks the calling thread while other processes finish their
// own coordinated access to the item; never call it on the main thread.

#include <filesystem>
#include <functional>
#include <system_error>

namespace quillory::platform::macos {

enum class CoordinatedChange {
  replacing,  // the item is replaced by another file (NSFileCoordinatorWritingForReplacing)
  deleting,   // the item is removed (NSFileCoordinatorWritingForDeleting)
};

// Runs `change` once, under a coordinated write of `item`, with the path the
// coordinator hands over (the item's current path, which differs from `item`
// only when another process has just moved it), and returns its result. When
// the coordination itself fails, `change` does not run and the coordinator's
// error is returned (its POSIX code when it carries one, else EIO).
std::error_code coordinatedChange(const std::filesystem::path& item, CoordinatedChange kind,
                                  const std::function<std::error_code(const std::filesystem::path&)>& change);

}  // namespace quillory::platform::macos
