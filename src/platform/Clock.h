#pragma once
// Wall-clock time and sleeping.
//
// Contract: `now` is the current wall-clock instant; `sleepFor` blocks the
// calling thread for about the given number of seconds (a fake clock may move
// its time instead). Threading: any thread.

#include "platform/Defaults.h"

namespace quillory::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Date now() const = 0;
  virtual void sleepFor(double seconds) = 0;
};

// Seconds from `from` to `to`, as a real number (negative when `to` is earlier).
inline double secondsBetween(Date from, Date to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace quillory::platform
