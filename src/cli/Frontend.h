#pragma once
// The commands of quillory-helper-cli over one ExportManager: what the
// menu-bar helper does for "Sync Now", its status menu and its Libraries
// submenu, each followed by waiting until the engine's work has ended.
//
// The front end runs on the dispatcher's main thread and drives the main loop
// itself: the engine's background work (checks, pruning, the export run) runs
// on the global queues, and whatever it hands to the main queue (the
// first-sync question, the name-conflict alert, status notifications) runs
// while the front end waits. The main thread never blocks on another thread.
//
// Each command returns the process's exit status (ExitStatus.h). Results go
// to `out`; failures and refusals to `err`. The engine's log lines go through
// its own Log (standard output).

#include <chrono>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "presentation/RelativeDateText.h"

namespace quillory::engine {
class ExportManager;
}
namespace quillory::platform {
class AlertPresenter;
class Clock;
class Dispatcher;
}  // namespace quillory::platform

namespace quillory::cli {

class Frontend {
 public:
  struct Io {
    std::ostream& out;
    std::ostream& err;
    // Whether a question can be answered: standard input is a terminal, or
    // the answer was given on the command line.
    bool canConfirmDisable;
  };

  // Runs the main loop of the dispatcher's main queue until `done` holds or
  // `limit` has passed; true when `done` holds. The composition root lends
  // its run loop's own.
  using RunMainLoopUntil =
      std::function<bool(const std::function<bool()>& done, std::chrono::milliseconds limit)>;

  Frontend(engine::ExportManager& manager, platform::Dispatcher& dispatcher,
           RunMainLoopUntil runMainLoopUntil, platform::Clock& clock, platform::AlertPresenter& alerts,
           presentation::DateTextSettings dateText, Io io);

  int sync();
  int status();
  int libraries();
  int enable(const std::string& name);
  int disable(const std::string& name);
  int prune();

  // The menu's two text lines for the manager's state now.
  std::string libraryLine() const;
  std::string statusLine() const;

 private:
  // Runs the main loop until `done` holds, however long that takes.
  void runUntil(const std::function<bool()>& done);
  // Runs `work` on the background queue and the main loop until it has ended.
  void onBackground(std::function<void()> work);
  // Runs the main loop until every task queued so far has run.
  void drainMainQueue();
  // The stored library name that `typed` names: itself, or the one stored
  // name canonically equivalent to it; none when there is no such name or
  // several.
  std::optional<std::string> storedName(const std::string& typed) const;
  int unknownLibrary(const std::string& name);
  // The answer for `name` could not be stored: says so, exit status 1.
  int notStored(const std::string& name, const std::string& reason);

  engine::ExportManager& manager_;
  platform::Dispatcher& dispatcher_;
  const RunMainLoopUntil runMainLoopUntil_;
  platform::Clock& clock_;
  platform::AlertPresenter& alerts_;
  const presentation::DateTextSettings dateText_;
  Io io_;
};

}  // namespace quillory::cli
