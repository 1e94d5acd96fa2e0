#include "platform/posix/SystemClock.h"

#include <thread>

namespace quillory::platform::posix {

Date SystemClock::now() const { return std::chrono::system_clock::now(); }

void SystemClock::sleepFor(std::chrono::milliseconds duration) {
  if (duration > duration.zero()) std::this_thread::sleep_for(duration);
}

}  // namespace quillory::platform::posix
