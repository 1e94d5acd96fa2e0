#include "support/FakeClock.h"

namespace quillory::testing {

using platform::Date;

Date FakeClock::defaultStart() {
  using namespace std::chrono;
  return sys_days{year{2026} / December / 5} + hours{9};
}

FakeClock::FakeClock(Date start) : now_(start) {}

Date FakeClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void FakeClock::sleepFor(std::chrono::milliseconds duration) {
  std::lock_guard lock(mutex_);
  ++sleeps_;
  if (duration > duration.zero()) now_ += duration;
}

void FakeClock::set(Date now) {
  std::lock_guard lock(mutex_);
  now_ = now;
}

void FakeClock::advance(Date::duration duration) {
  std::lock_guard lock(mutex_);
  now_ += duration;
}

std::size_t FakeClock::sleepCount() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

}  // namespace quillory::testing
