#include "platform/posix/SystemClock.h"

#include <time.h>

#include <thread>

namespace quillory::platform::posix {

Date SystemClock::now() const { return std::chrono::system_clock::now(); }

// A clock that also counts the time the machine was suspended or asleep, so
// that a user away through a suspend has been away that long: Linux's boot
// time clock, and the monotonic clock on macOS, which keeps counting while
// asleep. Setting the wall clock moves neither.
MonotonicTime SystemClock::monotonicNow() const {
#ifdef CLOCK_BOOTTIME
  constexpr clockid_t kClock = CLOCK_BOOTTIME;
#else
  constexpr clockid_t kClock = CLOCK_MONOTONIC;
#endif
  timespec now{};
  clock_gettime(kClock, &now);  // cannot fail for a valid clock and address
  return MonotonicTime(std::chrono::duration_cast<MonotonicTime::duration>(
      std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec)));
}

void SystemClock::sleepFor(std::chrono::milliseconds duration) {
  if (duration > duration.zero()) std::this_thread::sleep_for(duration);
}

}  // namespace quillory::platform::posix
