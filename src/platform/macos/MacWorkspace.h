#pragma once
// The desktop's running applications over NSWorkspace (macOS only).
//
// `runningBundleIdentifiers` reads the shared workspace's running applications
// in its order. The observers are registered on the shared workspace's own
// notification centre (workspace notifications never reach the default
// centre) for the did-activate and did-terminate notifications, on the main
// queue, so they run on the main thread. Each notification is reduced to the
// bundle identifier of the application it names, or none when it has no user
// information, no entry under the application key, an entry that is not a
// running application, or an application without a bundle identifier; the
// caller compares the identifier itself.
//
// The registrations live as long as this object and are removed when it is
// destroyed, so no observer runs after its owner is gone.
//
// Threading: as `Workspace`.

#include <memory>

#include "platform/Workspace.h"

namespace quillory::platform::macos {

class MacWorkspace final : public Workspace {
 public:
  MacWorkspace();
  ~MacWorkspace() override;
  MacWorkspace(const MacWorkspace&) = delete;
  MacWorkspace& operator=(const MacWorkspace&) = delete;

  std::vector<std::optional<std::string>> runningBundleIdentifiers() const override;
  void observeActivation(Observer observer) override;
  void observeTermination(Observer observer) override;

 private:
  struct Registrations;  // the notification centre's observer tokens
  std::unique_ptr<Registrations> registrations_;
};

}  // namespace quillory::platform::macos
