#include "SoakLog.h"

#include <utility>
#include <vector>

namespace quillory::soak {

namespace {

const std::vector<std::pair<std::string, std::string>> kPatterns = {
    {"exportsOk", "\u2713 Export OK"},
    {"exportsFailed", "\u2717 Export failed"},
    {"destinationFailures", "[Helper]   \u2717 "},
    {"scriptTimeouts", "JXA timed out"},
    {"pruned", "[Helper] Pruned "},
    {"deletedFiles", "[Helper] Deleted iCloud files"},
    {"recoveredPaths", "[Helper] Recovered path"},
    {"skippedDeclined", "\u23ED Skipping"},
    {"settingsWarnings", "\u26A0 Setting"},
};

}  // namespace

void SoakLog::line(const std::string& text) {
  std::lock_guard lock(mutex_);
  out_ << text << '\n';
  for (const auto& [key, pattern] : kPatterns) {
    if (text.find(pattern) != std::string::npos) ++counts_[key];
  }
  const auto failed = text.find("Export failed (");
  if (failed != std::string::npos) {
    const auto colon = text.find("): ", failed);
    if (colon != std::string::npos) ++failures_[text.substr(colon + 3)];
  }
}

std::map<std::string, long> SoakLog::counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

std::map<std::string, long> SoakLog::failures() const {
  std::lock_guard lock(mutex_);
  return failures_;
}

}  // namespace quillory::soak
