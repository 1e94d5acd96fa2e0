#pragma once
// One export of the host's current library, from the script's answer to the
// document pairs on disk and the library's records.

#include <filesystem>
#include <functional>
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
};

// Returns the number of destinations that received the document pair (at
// least 1) or throws `ExportError` (or a serialisation error unchanged).
// Runs on a background queue, never on the main thread.
int exportLibrary(const PipelineContext& context);

}  // namespace quillory::publish
