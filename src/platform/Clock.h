#pragma once
// Wall-clock time, monotonic time and sleeping.
//
// Contract: `now` is the current wall-clock instant, for dates that are
// stored or shown; it may jump either way when the system's clock is set.
// `monotonicNow` never goes back and does not follow such settings: every
// interval (how long ago, how long left) is measured on it. Its readings are
// compared only with readings of the same clock (the epoch is the clock's own). `sleepFor` blocks
// the calling thread for about the given duration (a fake clock may move its
// time instead). Threading: any thread.

#include <chrono>

#include "platform/Defaults.h"

namespace quillory::platform {

using MonotonicTime = std::chrono::steady_clock::time_point;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Date now() const = 0;
  virtual MonotonicTime monotonicNow() const = 0;
  virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

}  // namespace quillory::platform
