#include "platform/posix/CappedFileLog.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "platform/Files.h"
#include "platform/posix/WriteAll.h"

namespace quillory::platform::posix {

CappedFileLog::CappedFileLog(std::filesystem::path file, std::uintmax_t capBytes)
    : file_(std::move(file)), capBytes_(capBytes) {}

bool CappedFileLog::open(bool truncate) {
  fd_.reset();
  if (files::createFolders(file_.parent_path())) return false;
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | (truncate ? O_TRUNC : 0);
  OwnedFd fd(::open(file_.c_str(), flags, 0600));
  struct stat info {};
  if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  fd_ = std::move(fd);
  size_ = static_cast<std::uintmax_t>(info.st_size);
  return true;
}

void CappedFileLog::line(const std::string& text) {
  const std::string whole = text + '\n';
  std::lock_guard lock(mutex_);
  if (!fd_.valid() && !open(false)) return;
  if (size_ > 0 && size_ + whole.size() > capBytes_) {
    std::filesystem::path older = file_;
    older += ".1";
    // Where the older lines cannot be kept (a folder in their place), the
    // file starts over all the same: the cap holds and logging goes on.
    (void)::rename(file_.c_str(), older.c_str());
    if (!open(true)) return;
  }
  // A full disk loses the rest of the line; the size counts it all the same,
  // which at worst starts the next file a little early.
  (void)writeAll(fd_.get(), whole);
  size_ += whole.size();
}

}  // namespace quillory::platform::posix
