#include "support/FastClock.h"

#include <thread>

namespace quillory::testing {

platform::Date FastClock::now() const {
  std::lock_guard lock(mutex_);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - since_;
  return base_ + std::chrono::duration_cast<platform::Date::duration>(elapsed * speed_.load());
}

void FastClock::sleepFor(std::chrono::milliseconds duration) {
  if (duration > duration.zero()) std::this_thread::sleep_for(duration / speed_.load());
}

void FastClock::setSpeed(double speed) {
  const platform::Date current = now();
  std::lock_guard lock(mutex_);
  base_ = current;
  since_ = std::chrono::steady_clock::now();
  speed_ = speed;
}

}  // namespace quillory::testing
