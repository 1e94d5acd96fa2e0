#include "platform/posix/SystemClock.h"

#include <thread>

namespace quillory::platform::posix {

Date SystemClock::now() const { return std::chrono::system_clock::now(); }

void SystemClock::sleepFor(double seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

}  // namespace quillory::platform::posix
