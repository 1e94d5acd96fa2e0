#pragma once
// Wall-clock time and sleeping.
//
// Contract: `now` is the current wall-clock instant; `sleepFor` blocks the
// calling thread for about the given duration (a fake clock may move its time
// instead). Threading: any thread.

#include <chrono>

#include "platform/Defaults.h"

namespace quillory::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Date now() const = 0;
  virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

}  // namespace quillory::platform
