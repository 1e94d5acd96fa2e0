#include "support/FakeClock.h"

#include <thread>

namespace quillory::testing {

using platform::Date;

Date FakeClock::now() const {
  std::lock_guard lock(mutex_);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - since_;
  return base_ + std::chrono::duration_cast<Date::duration>(elapsed * speed_);
}

void FakeClock::sleepFor(std::chrono::milliseconds duration) {
  if (duration < duration.zero()) duration = duration.zero();
  double speed = 0;
  {
    std::lock_guard lock(mutex_);
    ++sleeps_;
    speed = speed_;
    if (speed == 0) base_ += duration;
  }
  if (speed > 0) std::this_thread::sleep_for(duration / speed);
}

void FakeClock::set(Date now) {
  std::lock_guard lock(mutex_);
  base_ = now;
  since_ = std::chrono::steady_clock::now();
}

void FakeClock::setSpeed(double speed) {
  const Date current = now();
  std::lock_guard lock(mutex_);
  base_ = current;
  since_ = std::chrono::steady_clock::now();
  speed_ = speed;
}

std::size_t FakeClock::sleepCount() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

}  // namespace quillory::testing
