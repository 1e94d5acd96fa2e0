#include "platform/posix/SingleInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace quillory::platform::posix {

namespace {

// The holder's record takes this many bytes at the start of the file, padded
// with spaces, so it is replaced in place and the file never truncated.
constexpr std::size_t kRecordSize = 128;

std::string describe(const std::string& what, int error) {
  return what + ": " + std::generic_category().message(error);
}

void writeRecord(int fd, std::string record) {
  record.resize(kRecordSize, ' ');
  record.back() = '\n';
  std::string_view rest = record;
  off_t offset = 0;
  while (!rest.empty()) {
    const ssize_t n = ::pwrite(fd, rest.data(), rest.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the record is only a courtesy for the other programs
    rest.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
}

// Reads "<pid> <program>" from the start of the file; none on any failure.
void readRecord(int fd, std::optional<long>& pid, std::string& program) {
  char buffer[kRecordSize + 1] = {};
  ssize_t n;
  do {
    n = ::pread(fd, buffer, kRecordSize, 0);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return;
  char* end = nullptr;
  const long number = std::strtol(buffer, &end, 10);
  if (end == buffer || number <= 0) return;
  pid = number;
  std::string_view rest(end);
  if (!rest.starts_with(' ')) return;
  rest.remove_prefix(1);
  program = std::string(rest.substr(0, rest.find_first_of(" \n")));
}

}  // namespace

std::filesystem::path defaultLockFile(const std::filesystem::path& home) {
  return home / ".quillory-helper.lock";
}

SingleInstanceLock::SingleInstanceLock(std::filesystem::path file, std::string program)
    : file_(std::move(file)), program_(std::move(program)) {
  take();
}

SingleInstanceLock::Outcome SingleInstanceLock::retry() {
  if (outcome_ != Outcome::acquired) take();
  return outcome_;
}

void SingleInstanceLock::take() {
  outcome_ = Outcome::unavailable;
  holderPid_.reset();
  holderProgram_.clear();
  error_.clear();
  fd_.reset();
  // O_NOFOLLOW: a symbolic link there is refused, never opened; O_NONBLOCK:
  // a FIFO there cannot hang the open.
  int fd;
  do {
    fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0644);
  } while (fd < 0 && errno == EINTR);
  fd_ = OwnedFd(fd);
  if (!fd_.valid()) {
    const int error = errno;
    if (error == ELOOP) {
      error_ = file_.string() + " is a symbolic link, not a lock file; remove it and start again";
    } else if (error == EISDIR) {
      error_ = file_.string() + " is a folder, not a lock file; remove it and start again";
    } else {
      error_ = describe("cannot open " + file_.string(), error);
    }
    return;
  }
  struct stat info {};
  if (::fstat(fd_.get(), &info) != 0) {
    error_ = describe("cannot examine " + file_.string(), errno);
  } else if (!S_ISREG(info.st_mode)) {
    error_ = file_.string() + " is not a regular file, not a lock file; remove it and start again";
  } else if (info.st_nlink != 1) {
    error_ =
        file_.string() + " has other names (hard links), so it is not a lock file; remove it and start again";
  } else if (info.st_uid != ::geteuid()) {
    error_ = file_.string() + " belongs to another user; remove it and start again";
  }
  if (!error_.empty()) {
    fd_.reset();
    return;
  }
  int rc;
  do {
    rc = ::flock(fd_.get(), LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    outcome_ = Outcome::acquired;
    writeRecord(fd_.get(), std::to_string(static_cast<long>(::getpid())) + " " + program_);
    return;
  }
  const int error = errno;
  if (error == EWOULDBLOCK) {
    outcome_ = Outcome::heldElsewhere;
    readRecord(fd_.get(), holderPid_, holderProgram_);
  } else {
    error_ = describe("cannot lock " + file_.string(), error);
  }
  fd_.reset();
}

SingleInstanceLock::~SingleInstanceLock() {
  // Blank the record first, so a stale one never names a process that no
  // longer holds the lock; closing the descriptor releases the lock.
  if (fd_.valid()) writeRecord(fd_.get(), {});
}

}  // namespace quillory::platform::posix
