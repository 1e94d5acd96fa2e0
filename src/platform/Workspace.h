#pragma once
// The desktop's running applications and their activation and termination.
//
// Contract: `runningBundleIdentifiers` lists the running applications in the
// workspace's order, each with its bundle identifier, or none for an
// application without one. The observers are called on the main thread with
// the bundle identifier of the application that became active or terminated,
// or none when the notification names no application or one without an
// identifier. Observers are registered for the life of the workspace and
// never removed.
//
// Threading: `runningBundleIdentifiers` from any thread; observe* on the main
// thread.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillory::platform {

class Workspace {
 public:
  using Observer = std::function<void(const std::optional<std::string>& bundleIdentifier)>;
  virtual ~Workspace() = default;

  virtual std::vector<std::optional<std::string>> runningBundleIdentifiers() const = 0;
  virtual void observeActivation(Observer observer) = 0;
  virtual void observeTermination(Observer observer) = 0;
};

}  // namespace quillory::platform
