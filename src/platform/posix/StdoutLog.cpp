#include "platform/posix/StdoutLog.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

namespace quillory::platform::posix {

StdoutLog::StdoutLog(int fd, Log* also) : fd_(fd), also_(also) {}

void StdoutLog::line(const std::string& text) {
  if (also_) also_->line(text);
  std::string whole;
  whole.reserve(text.size() + 1);
  whole.append(text).push_back('\n');
  std::lock_guard lock(mutex_);
  const char* data = whole.data();
  std::size_t left = whole.size();
  while (left > 0) {
    const ssize_t written = ::write(fd_, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // A non-blocking standard output that is full: wait until it drains.
        pollfd ready{fd_, POLLOUT, 0};
        if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
        return;
      }
      return;  // EPIPE, EBADF, ...: the line is lost, the program goes on
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

}  // namespace quillory::platform::posix
