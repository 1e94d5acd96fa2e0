#pragma once
// The helper's log: plain lines, on standard output and in the platform's log
// (posix/StdoutLog.h, posix/SystemLog.h, macos/MacSystemLog.h).
//
// Contract: `line` writes the text and one newline as one unit; lines written
// by several threads at once never interleave. The text carries no newline of
// its own. Threading: any thread.

#include <string>

namespace quillory::platform {

class Log {
 public:
  virtual ~Log() = default;
  virtual void line(const std::string& text) = 0;
};

}  // namespace quillory::platform
