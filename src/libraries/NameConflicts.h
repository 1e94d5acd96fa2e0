#pragma once
// Refusing to publish a second library over another library's document.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/AlertPresenter.h"

namespace quillory::platform {
class Dispatcher;
}

namespace quillory::libraries {

// The existing document's "libraryPath" when the document at `targetDocument`
// belongs to another library folder that still exists; none otherwise (also
// on every read or parse failure, and when `newPath` is empty).
std::optional<std::string> conflictingLibraryPath(const std::filesystem::path& targetDocument,
                                                  const std::string& newPath);

// The conflict test of an export: by folder (above) when `newPath` is not
// empty. Without a folder of its own, the document at `targetDocument`
// belongs to another library when its "libraryName" is a string that is not
// canonically equal to `newName` (unless its "libraryPath" names a place that
// no longer exists: that library is gone). Returns what the alert shows for
// the existing library: its path, or its name where it has no path; none
// when there is no conflict (also on every read or parse failure).
std::optional<std::string> conflictingLibrary(const std::filesystem::path& targetDocument,
                                              const std::string& newPath, const std::string& newName);

// The name-conflict alert's texts.
platform::Alert nameConflictAlert(const std::string& name, const std::string& existingPath,
                                  const std::string& newPath);

// Shows the alert on the main thread and returns when it was dismissed; from
// another thread it hands the alert over with `Dispatcher::sync` and waits.
void showNameConflictAlert(platform::Dispatcher& dispatcher, platform::AlertPresenter& alerts,
                           const std::string& name, const std::string& existingPath,
                           const std::string& newPath);

}  // namespace quillory::libraries
