#include "platform/posix/WriteAll.h"

#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace quillory::platform::posix {

namespace {

// What to do after a write that returned -1: true to try again (interrupted,
// or a full non-blocking descriptor that has drained).
bool retryAfterError(int fd) {
  if (errno == EINTR) return true;
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    pollfd ready{fd, POLLOUT, 0};
    return ::poll(&ready, 1, -1) >= 0 || errno == EINTR;
  }
  return false;
}

}  // namespace

std::error_code writeAll(int fd, std::string_view bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (retryAfterError(fd)) continue;
      return std::error_code(errno, std::generic_category());
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return {};
}

std::error_code writeAll(int fd, std::span<const std::string_view> pieces) {
  // At most this many pieces per call (the system's limit is at least 16).
  constexpr std::size_t kBatch = std::min<std::size_t>(IOV_MAX, 64);
  std::string_view first;  // what is left of the first piece not yet written
  if (!pieces.empty()) first = pieces.front();
  while (!pieces.empty()) {
    std::array<iovec, kBatch> batch;
    std::size_t count = 0;
    for (; count < batch.size() && count < pieces.size(); ++count) {
      const std::string_view piece = count == 0 ? first : pieces[count];
      batch[count] = {const_cast<char*>(piece.data()), piece.size()};
    }
    ssize_t written = ::writev(fd, batch.data(), static_cast<int>(count));
    if (written < 0) {
      if (retryAfterError(fd)) continue;
      return std::error_code(errno, std::generic_category());
    }
    // Passes over what was written: whole pieces, then part of one.
    while (!pieces.empty() && static_cast<std::size_t>(written) >= first.size()) {
      written -= static_cast<ssize_t>(first.size());
      pieces = pieces.subspan(1);
      if (!pieces.empty()) first = pieces.front();
    }
    first.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

}  // namespace quillory::platform::posix
