#include "platform/posix/StdoutLog.h"

#include "platform/posix/JournalLog.h"
#include "platform/posix/WriteAll.h"

namespace quillory::platform::posix {

StdoutLog::StdoutLog(int fd, Log* also, bool journalPriorities)
    : fd_(fd), also_(also), journalPriorities_(journalPriorities) {}

void StdoutLog::line(const std::string& text) {
  if (also_) also_->line(text);
  std::string whole;
  whole.reserve(text.size() + 4);
  if (journalPriorities_) whole.append("<").append(std::to_string(journalPriority(text))).append(">");
  whole.append(text).push_back('\n');
  std::lock_guard lock(mutex_);
  // EPIPE, ENOSPC, ...: the line is lost, the program goes on.
  const std::error_code error = writeAll(fd_, whole);
  if (error && !failure_) failure_ = error;
}

std::error_code StdoutLog::writeFailure() {
  std::lock_guard lock(mutex_);
  return failure_;
}

}  // namespace quillory::platform::posix
