#include "support/FakeClock.h"

#include <thread>

namespace quillory::testing {

using platform::Date;

Date FakeClock::defaultStart() {
  using namespace std::chrono;
  return sys_days{year{2026} / December / 5} + hours{9};
}

FakeClock::FakeClock(Date start, bool alsoSleepForReal) : now_(start), alsoSleepForReal_(alsoSleepForReal) {}

Date FakeClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void FakeClock::sleepFor(double seconds) {
  {
    std::lock_guard lock(mutex_);
    slept_ += seconds;
    ++sleeps_;
    if (seconds > 0) {
      now_ += std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds));
    }
  }
  if (alsoSleepForReal_ && seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void FakeClock::set(Date now) {
  std::lock_guard lock(mutex_);
  now_ = now;
}

void FakeClock::advance(double seconds) {
  std::lock_guard lock(mutex_);
  now_ += std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds));
}

double FakeClock::totalSlept() const {
  std::lock_guard lock(mutex_);
  return slept_;
}

std::size_t FakeClock::sleepCount() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

}  // namespace quillory::testing
