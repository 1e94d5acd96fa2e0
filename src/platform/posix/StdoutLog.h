#pragma once
// The log on standard output: each line, with its newline, goes out in one
// write(2) under a mutex, continued after partial writes and interruptions,
// so lines from several threads never interleave. A write that fails for
// good (a closed pipe) is dropped: logging never stops the program.
//
// Threading: any thread.

#include <mutex>
#include <string>

#include "platform/Log.h"

namespace quillory::platform::posix {

class StdoutLog final : public Log {
 public:
  // `fd` is the descriptor written to; standard output unless a test passes
  // another. The descriptor is not owned.
  explicit StdoutLog(int fd = 1);
  void line(const std::string& text) override;

 private:
  const int fd_;
  std::mutex mutex_;
};

}  // namespace quillory::platform::posix
