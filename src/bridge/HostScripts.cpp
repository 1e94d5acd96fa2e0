#include "bridge/HostScripts.h"

#include "platform/Workspace.h"

namespace quillory::bridge {

bool isHostRunning(const platform::Workspace& workspace, std::string_view bundleID) {
  for (const auto& identifier : workspace.runningBundleIdentifiers()) {
    if (identifier && *identifier == bundleID) return true;
  }
  return false;
}

}  // namespace quillory::bridge
