#pragma once
// The log on standard output: each line, with its newline, goes out in one
// write(2) under a mutex, continued after partial writes and interruptions,
// so lines from several threads never interleave. A write that fails for
// good (a closed pipe, a full disk) is dropped: logging never stops the
// program; the first such failure is kept for `writeFailure`. Each line
// is also handed to a second log when one is given (the platform's log, where
// the user of a menu-bar application finds it). Written into the journal's
// stream (a systemd service's standard output), each line starts with its
// priority as journald reads it: "<3>" for a "✗" line, "<4>" for "⚠", "<6>"
// otherwise (see journalPriority), so that `journalctl -p warning` finds the
// failures there too.
//
// Threading: any thread.

#include <mutex>
#include <string>
#include <system_error>

#include "platform/Log.h"

namespace quillory::platform::posix {

class StdoutLog final : public Log {
 public:
  // `fd` is the descriptor written to; standard output unless a test passes
  // another. Neither it nor `also` is owned; `also` outlives this log.
  // `journalPriorities`: `fd` is the journal's stream (see
  // descriptorIsJournalStream in SystemLog.h).
  explicit StdoutLog(int fd = 1, Log* also = nullptr, bool journalPriorities = false);
  void line(const std::string& text) override;
  // The error of the first line that could not be written, if any.
  std::error_code writeFailure();

 private:
  const int fd_;
  Log* const also_;
  const bool journalPriorities_;
  std::mutex mutex_;
  std::error_code failure_;
};

}  // namespace quillory::platform::posix
