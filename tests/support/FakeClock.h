#pragma once
// A clock whose time the test sets. `sleepFor` moves the time forward by the
// given seconds instead of blocking, unless the clock was made to sleep for
// real as well (for code that polls a real child process). Thread-safe.

#include <cstddef>
#include <mutex>

#include "platform/Clock.h"

namespace quillory::testing {

class FakeClock final : public platform::Clock {
 public:
  // 2026-12-05T09:00:00Z, a fixed instant, unless another start is given.
  static platform::Date defaultStart();

  explicit FakeClock(platform::Date start = defaultStart(), bool alsoSleepForReal = false);

  platform::Date now() const override;
  void sleepFor(double seconds) override;

  void set(platform::Date now);
  void advance(double seconds);
  // Sum of the seconds passed to sleepFor, and how many calls there were.
  double totalSlept() const;
  std::size_t sleepCount() const;

 private:
  mutable std::mutex mutex_;
  platform::Date now_;
  const bool alsoSleepForReal_;
  double slept_ = 0;
  std::size_t sleeps_ = 0;
};

}  // namespace quillory::testing
