#include "support/FakeClock.h"

#include <thread>

namespace quillory::testing {

using platform::Date;

std::chrono::nanoseconds FakeClock::elapsed() const {
  const std::chrono::duration<double> real = std::chrono::steady_clock::now() - since_;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(real * speed_);
}

Date FakeClock::now() const {
  std::lock_guard lock(mutex_);
  return base_ + std::chrono::duration_cast<Date::duration>(elapsed());
}

platform::MonotonicTime FakeClock::monotonicNow() const {
  std::lock_guard lock(mutex_);
  return monotonicBase_ + elapsed();
}

void FakeClock::sleepFor(std::chrono::milliseconds duration) {
  if (duration < duration.zero()) duration = duration.zero();
  double speed = 0;
  {
    std::lock_guard lock(mutex_);
    speed = speed_;
  }
  if (speed > 0)
    std::this_thread::sleep_for(duration / speed);
  else
    advance(duration);
}

void FakeClock::set(Date now) {
  std::lock_guard lock(mutex_);
  monotonicBase_ += elapsed();
  base_ = now;
  since_ = std::chrono::steady_clock::now();
}

void FakeClock::advance(std::chrono::milliseconds duration) {
  std::lock_guard lock(mutex_);
  base_ += duration;
  monotonicBase_ += duration;
}

void FakeClock::setSpeed(double speed) {
  std::lock_guard lock(mutex_);
  const std::chrono::nanoseconds run = elapsed();
  base_ += std::chrono::duration_cast<Date::duration>(run);
  monotonicBase_ += run;
  since_ = std::chrono::steady_clock::now();
  speed_ = speed;
}

}  // namespace quillory::testing
