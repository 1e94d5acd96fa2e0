#pragma once
// Log lines appended to a file that never grows past a cap: when the next
// line would pass it, the file becomes "<name>.1" (replacing the one before)
// and a new file starts, so at most twice the cap is ever kept (where
// "<name>.1" cannot be written, the file simply starts over). The folder is
// created with its parents; the file is opened without following a link, for
// the user alone (0600). A line that cannot be written is dropped (the file is
// tried again at the next line); logging never stops the program.
//
// Threading: any thread; lines never interleave.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/Log.h"
#include "platform/posix/OwnedFd.h"

namespace quillory::platform::posix {

class CappedFileLog final : public Log {
 public:
  static constexpr std::uintmax_t kDefaultCapBytes = 1024 * 1024;

  explicit CappedFileLog(std::filesystem::path file, std::uintmax_t capBytes = kDefaultCapBytes);
  void line(const std::string& text) override;

 private:
  bool open(bool truncate);  // mutex_ held

  const std::filesystem::path file_;
  const std::uintmax_t capBytes_;
  std::mutex mutex_;
  OwnedFd fd_;               // guarded by mutex_
  std::uintmax_t size_ = 0;  // guarded by mutex_
};

}  // namespace quillory::platform::posix
