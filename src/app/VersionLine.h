#pragma once
// The menu's version line: "Quillory Helper " + short version + " (" + build
// + ")". A missing short version reads "1.0", a missing build "?", each on its
// own, so that nothing known gives "Quillory Helper 1.0 (?)". Pure.

#include <optional>
#include <string>

namespace quillory::app {

struct VersionInfo {
  std::optional<std::string> shortVersion;
  std::optional<std::string> build;
};

std::string versionLine(const VersionInfo& version);

}  // namespace quillory::app
