#pragma once
// A workspace with a fixed list of running applications and no
// notifications: for the command-line front end, which has no desktop to
// ask, and for "--assume-host-running". With the host's bundle identifier in
// the list, the host test answers true; with an empty list it answers false.
//
// Threading: any thread; the list never changes.

#include <optional>
#include <string>
#include <vector>

#include "platform/Workspace.h"

namespace quillory::platform {

class StaticWorkspace final : public Workspace {
 public:
  explicit StaticWorkspace(std::vector<std::optional<std::string>> running) : running_(std::move(running)) {}

  std::vector<std::optional<std::string>> runningBundleIdentifiers() const override { return running_; }
  // Nothing is ever activated or terminated.
  void observeActivation(Observer) override {}
  void observeTermination(Observer) override {}

 private:
  const std::vector<std::optional<std::string>> running_;
};

}  // namespace quillory::platform
