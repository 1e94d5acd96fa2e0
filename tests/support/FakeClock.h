#pragma once
// A clock for tests. Its wall clock starts at `start`, its monotonic clock at
// a fixed reading, and both run `speed` times as fast as real time. At speed
// 0 (the default) they stand still: `advance` moves both (time passes), `set`
// moves only the wall clock (the system's clock is set), and `sleepFor` moves
// both by the given duration instead of blocking. At speed 30 a 90-second
// time limit passes in 3 seconds, for the engine run as the application runs
// it (the fault tests, the soak driver); `setSpeed` changes the speed from
// now on and never moves the time backwards. Thread-safe.

#include <chrono>
#include <mutex>

#include "platform/Clock.h"

namespace quillory::testing {

class FakeClock final : public platform::Clock {
 public:
  // 2026-12-05T09:00:00Z, a fixed instant, unless another start is given.
  explicit FakeClock(platform::Date start = std::chrono::sys_days{std::chrono::year{2026} / 12 / 5} +
                                            std::chrono::hours{9},
                     double speed = 0)
      : base_(start), speed_(speed) {}

  platform::Date now() const override;
  platform::MonotonicTime monotonicNow() const override;
  void sleepFor(std::chrono::milliseconds duration) override;

  void set(platform::Date now);
  void advance(std::chrono::milliseconds duration);
  void setSpeed(double speed);

 private:
  // The time run since `since_` at `speed_`; mutex_ held.
  std::chrono::nanoseconds elapsed() const;

  mutable std::mutex mutex_;
  platform::Date base_;                                           // the wall clock at `since_`
  platform::MonotonicTime monotonicBase_{std::chrono::hours(1)};  // the monotonic clock at `since_`
  std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
  double speed_;
};

}  // namespace quillory::testing
