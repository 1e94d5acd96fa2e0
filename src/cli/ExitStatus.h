#pragma once
// The exit statuses of quillory-helper-cli (documented in its --help and the
// README). The four last follow sysexits.h: EX_USAGE, EX_CANTCREAT, EX_IOERR
// and EX_TEMPFAIL. A run ended by SIGTERM, SIGINT or SIGHUP exits 128 + the signal.

namespace quillory::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitExportFailed = 1;
inline constexpr int kExitSkipped = 2;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitCannotRun = 73;     // no lock or settings folder to be had
inline constexpr int kExitOutputFailed = 74;  // standard output could not be written
inline constexpr int kExitLocked = 75;

}  // namespace quillory::cli
