#pragma once
// A clock for tests. Its wall clock starts at `start`, its monotonic clock at
// a fixed reading, and both run `speed` times as fast as real time. At speed
// 0 (the default) they stand still: `advance` moves both (time passes), `set`
// moves only the wall clock (the system's clock is set), and `sleepFor` moves
// both by the given duration instead of blocking. At speed 30 a 90-second
// time limit passes in 3 seconds, for the engine run as the application runs
// it (the fault tests, the soak driver); `setSpeed` changes the speed from
// now on and never moves the time backwards. Thread-safe.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/Clock.h"

namespace quillory::testing {

class FakeClock final : public platform::Clock {
 public:
  // 2026-12-05T09:00:00Z, a fixed instant, unless another start is given.
  explicit FakeClock(platform::Date start = std::chrono::sys_days{std::chrono::year{2026} / 12 / 5} +
                                            std::chrono::hours{9},
                     double speed = 0)
      : base_(start), speed_(speed) {}

  platform::Date now() const override {
    std::lock_guard lock(mutex_);
    return base_ + std::chrono::duration_cast<platform::Date::duration>(elapsed());
  }
  platform::MonotonicTime monotonicNow() const override {
    std::lock_guard lock(mutex_);
    return monotonicBase_ + elapsed();
  }
  void sleepFor(std::chrono::milliseconds duration) override {
    duration = std::max(duration, duration.zero());
    const double speed = speed_;
    speed > 0 ? std::this_thread::sleep_for(duration / speed) : advance(duration);
  }

  void set(platform::Date now) {
    std::lock_guard lock(mutex_);
    monotonicBase_ += elapsed();
    base_ = now;
    since_ = std::chrono::steady_clock::now();
  }
  void advance(std::chrono::milliseconds duration) {
    std::lock_guard lock(mutex_);
    base_ += duration;
    monotonicBase_ += duration;
  }
  void setSpeed(double speed) {
    std::lock_guard lock(mutex_);
    const std::chrono::nanoseconds run = elapsed();
    base_ += std::chrono::duration_cast<platform::Date::duration>(run);
    monotonicBase_ += run;
    since_ = std::chrono::steady_clock::now();
    speed_ = speed;
  }

 private:
  // The time run since `since_` at `speed_`; mutex_ held.
  std::chrono::nanoseconds elapsed() const {
    const std::chrono::duration<double> real = std::chrono::steady_clock::now() - since_;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(real * speed_.load());
  }

  mutable std::mutex mutex_;
  platform::Date base_;                                           // the wall clock at `since_`
  platform::MonotonicTime monotonicBase_{std::chrono::hours(1)};  // the monotonic clock at `since_`
  std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
  std::atomic<double> speed_;  // written with mutex_ held
};

}  // namespace quillory::testing
