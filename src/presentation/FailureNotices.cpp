#include "presentation/FailureNotices.h"

namespace quillory::presentation {

namespace {

// A notification shows one line: every line break becomes a space.
std::string onOneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r' || c == '\t' || c == '\v' || c == '\f') c = ' ';
  }
  return text;
}

}  // namespace

std::string couldNotSyncTitle(const std::optional<std::string>& libraryName) {
  return libraryName ? "Quillory Helper could not sync '" + onOneLine(*libraryName) + "'"
                     : std::string("Quillory Helper could not sync");
}

std::optional<Notice> FailureNotices::runEnded(const EndedRun& run,
                                               const std::optional<std::string>& libraryName,
                                               platform::MonotonicTime now) {
  if (run.number == seen_) return std::nullopt;
  seen_ = run.number;
  if (!run.failure) {
    told_.reset();
    return std::nullopt;
  }
  if (run.failure == told_) return std::nullopt;
  if (run.causedByUser) {
    told_ = run.failure;
    return std::nullopt;
  }
  if (lastSent_ && now - *lastSent_ < kMinimumGap) return std::nullopt;
  told_ = run.failure;
  lastSent_ = now;
  return Notice{couldNotSyncTitle(libraryName), onOneLine(*run.failure)};
}

}  // namespace quillory::presentation
