#include "app/VersionLine.h"

namespace quillory::app {

std::string versionLine(const VersionInfo& version) {
  return "Quillory Helper " + version.shortVersion.value_or("1.0") + " (" + version.build.value_or("?") + ")";
}

}  // namespace quillory::app
