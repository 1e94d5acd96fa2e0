#include "platform/posix/WriteAll.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

namespace quillory::platform::posix {

std::error_code writeAll(int fd, std::string_view bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
      }
      return std::error_code(errno, std::generic_category());
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return {};
}

}  // namespace quillory::platform::posix
