#include "platform/posix/StdoutLog.h"

#include <errno.h>
#include <unistd.h>

namespace quillory::platform::posix {

StdoutLog::StdoutLog(int fd) : fd_(fd) {}

void StdoutLog::line(const std::string& text) {
  std::string whole;
  whole.reserve(text.size() + 1);
  whole.append(text).push_back('\n');
  std::lock_guard lock(mutex_);
  const char* data = whole.data();
  std::size_t left = whole.size();
  while (left > 0) {
    const ssize_t written = ::write(fd_, data, left);
    if (written < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;  // EPIPE, EBADF, ...: the line is lost, the program goes on
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

}  // namespace quillory::platform::posix
