#pragma once
// The exit statuses of quillory-helper-cli (documented in its --help and the
// README). The two last follow sysexits.h: EX_USAGE and EX_TEMPFAIL.

namespace quillory::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitExportFailed = 1;
inline constexpr int kExitSkipped = 2;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitLocked = 75;

}  // namespace quillory::cli
