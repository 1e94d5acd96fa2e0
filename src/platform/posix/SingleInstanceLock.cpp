#include "platform/posix/SingleInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "platform/posix/PlistDefaults.h"

namespace quillory::platform::posix {

namespace {

std::string describe(const std::string& what, int error) {
  return what + ": " + std::generic_category().message(error);
}

// Reads a small file through the descriptor; none on any failure.
std::optional<long> readPid(int fd) {
  char buffer[32] = {};
  ssize_t n;
  do {
    n = ::pread(fd, buffer, sizeof buffer - 1, 0);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return std::nullopt;
  char* end = nullptr;
  const long pid = std::strtol(buffer, &end, 10);
  if (end == buffer || pid <= 0) return std::nullopt;
  return pid;
}

void writePid(int fd) {
  if (::ftruncate(fd, 0) != 0) return;
  const std::string text = std::to_string(static_cast<long>(::getpid())) + "\n";
  std::string_view rest = text;
  off_t offset = 0;
  while (!rest.empty()) {
    const ssize_t n = ::pwrite(fd, rest.data(), rest.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the pid is only a courtesy for the refusal message
    rest.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
}

}  // namespace

std::filesystem::path lockFileFor(const std::filesystem::path& settingsFile) {
  return settingsFile.parent_path() / "quillory-helper.lock";
}

std::filesystem::path defaultLockFile(const std::filesystem::path& home) {
  return lockFileFor(defaultDefaultsFile(home));
}

SingleInstanceLock::SingleInstanceLock(std::filesystem::path file) : file_(std::move(file)) {
  std::error_code ec;
  if (file_.has_parent_path()) {
    std::filesystem::create_directories(file_.parent_path(), ec);
    if (ec) {
      error_ = "cannot create " + file_.parent_path().string() + ": " + ec.message();
      return;
    }
  }
  do {
    fd_ = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) {
    error_ = describe("cannot open " + file_.string(), errno);
    return;
  }
  int rc;
  do {
    rc = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    outcome_ = Outcome::acquired;
    writePid(fd_);
    return;
  }
  const int error = errno;
  if (error == EWOULDBLOCK) {
    outcome_ = Outcome::heldElsewhere;
    holderPid_ = readPid(fd_);
  } else {
    error_ = describe("cannot lock " + file_.string(), error);
  }
  ::close(fd_);
  fd_ = -1;
}

SingleInstanceLock::~SingleInstanceLock() {
  if (fd_ < 0) return;
  // Empty the pid first, so a stale number never names a process that no
  // longer holds the lock; closing the descriptor releases the lock.
  if (::ftruncate(fd_, 0) != 0) {
    // nothing to do: the lock goes with the descriptor all the same
  }
  ::close(fd_);
}

}  // namespace quillory::platform::posix
