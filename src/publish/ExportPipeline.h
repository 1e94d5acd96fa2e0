#pragma once
// One export of the host's current library, from the script's answer to the
// document pairs on disk and the library's records.

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace quillory::platform {
class AlertPresenter;
class Clock;
class Defaults;
class Dispatcher;
class Log;
}  // namespace quillory::platform

namespace quillory::bridge {
class ScriptRunner;
}

namespace quillory::publish {

// Thrown when an export ends without writing anything and without failing
// (the library is switched off, or the host changed library during the
// export). The line that says why has been written.
struct ExportSkipped {};

// The publish decision: called with the publishing name once it is known and
// before anything is written. Returns the publish lock, held, when the
// library may be written; none when it must not be (having written the line
// that says why). The conflict test, the writes and the records then happen
// under that lock, which is released before the conflict alert is shown.
using PublishDecision = std::function<std::optional<std::unique_lock<std::mutex>>(const std::string& name)>;

struct PipelineContext {
  platform::Defaults& defaults;
  platform::Log& log;
  platform::Clock& clock;
  platform::Dispatcher& dispatcher;
  platform::AlertPresenter& alerts;
  bridge::ScriptRunner& scripts;
  std::filesystem::path home;
  std::function<bool()> isHostRunning;
  std::optional<std::string> confirmedLibraryName;  // read once by the caller
  std::string iOSBundleID;
  const std::set<std::string>& keepFields;
  // Bracket the export script with the library-name script, once just before
  // and once just after it: the same name twice is the library's name
  // (instead of `confirmedLibraryName`), none twice leaves the name to the
  // export's folder, two different names skip the export.
  bool bracketWithLibraryName = false;
  PublishDecision decide = nullptr;  // none: always write
};

// Returns the number of destinations that received the document pair (at
// least 1) or throws `ExportError` (or a serialisation error unchanged), or
// `ExportSkipped`. Runs on a background queue, never on the main thread.
int exportLibrary(const PipelineContext& context);

}  // namespace quillory::publish
