#pragma once
// A workspace the test drives: it sets the running applications and calls
// `activate`/`terminate`, which call the registered observers on the calling
// thread (tests call them on their main thread). Thread-safe.

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Workspace.h"

namespace quillory::testing {

class FakeWorkspace final : public platform::Workspace {
 public:
  std::vector<std::optional<std::string>> runningBundleIdentifiers() const override;
  void observeActivation(Observer observer) override;
  void observeTermination(Observer observer) override;

  void setRunning(std::vector<std::optional<std::string>> running);
  // Adds the application to the running list / removes every entry of it.
  void launch(const std::string& bundleIdentifier);
  void quit(const std::string& bundleIdentifier);

  // Notify the observers. `terminate` does not change the running list; use
  // `quit` first when the application should also be gone.
  void activate(const std::optional<std::string>& bundleIdentifier);
  void terminate(const std::optional<std::string>& bundleIdentifier);

 private:
  mutable std::mutex mutex_;
  std::vector<std::optional<std::string>> running_;
  std::vector<Observer> activation_;
  std::vector<Observer> termination_;

  // Calls a copy of the observers without the lock, so an observer may use
  // the workspace.
  void notify(const std::vector<Observer>& observers, const std::optional<std::string>& bundleIdentifier);
};

}  // namespace quillory::testing
