#pragma once
// When a failed sync is worth a notification: once per kind of failure of
// the automatic runs. A run the helper started by itself (the idle sync)
// that fails after a success (or before any run), or fails differently from
// the failure before it, gives one notification, "Quillory Helper could not
// sync 'Name'" with the reason on one line; the same failure again gives
// none. A run the user started gives none (its alert or the command line
// already told them), but its failure counts as known. At most one
// notification goes out per `kMinimumGap` (measured on the monotonic clock);
// a failure that met the gap is not taken as told, so it is told when it
// happens again after the gap.
//
// Pure; the owner calls it with every state it sees, in order (the same run
// seen twice counts once). Not thread-safe: one owner, one thread.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Clock.h"

namespace quillory::presentation {

struct Notice {
  std::string title;
  std::string body;
  bool operator==(const Notice&) const = default;
};

// A run that ended: `number` counts the ended runs (0: none yet), `failure`
// is its status text (none: it published).
struct EndedRun {
  std::uint64_t number = 0;
  bool causedByUser = false;
  std::optional<std::string> failure;
};

class FailureNotices {
 public:
  static constexpr std::chrono::minutes kMinimumGap{10};

  // The notification to send for the last ended run, if any. `libraryName`
  // is the library the run was for, when known.
  std::optional<Notice> runEnded(const EndedRun& run, const std::optional<std::string>& libraryName,
                                 platform::MonotonicTime now);

 private:
  std::uint64_t seen_ = 0;
  std::optional<std::string> told_;  // the failure the user knows of, since the last success
  std::optional<platform::MonotonicTime> lastSent_;
};

// "Quillory Helper could not sync 'Name'" ("... could not sync" without a name).
std::string couldNotSyncTitle(const std::optional<std::string>& libraryName);

}  // namespace quillory::presentation
