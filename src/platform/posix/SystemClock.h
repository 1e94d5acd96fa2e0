#pragma once
// The system's wall clock, its monotonic clock and a real sleep. Any thread.

#include "platform/Clock.h"

namespace quillory::platform::posix {

class SystemClock final : public Clock {
 public:
  Date now() const override;
  MonotonicTime monotonicNow() const override;
  void sleepFor(std::chrono::milliseconds duration) override;
};

}  // namespace quillory::platform::posix
