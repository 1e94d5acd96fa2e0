#pragma once
// Real time running `speed` times faster from the moment the clock was made:
// with speed 30 a 90-second time limit passes in 3 seconds. `setSpeed`
// changes the speed from now on and never moves the time backwards. For the
// engine run as the application runs it (the fault tests, the soak driver).
// Thread-safe.

#include <atomic>
#include <chrono>
#include <mutex>

#include "platform/Clock.h"

namespace quillory::testing {

class FastClock final : public platform::Clock {
 public:
  explicit FastClock(double speed = 1) : speed_(speed) {}

  platform::Date now() const override;
  void sleepFor(std::chrono::milliseconds duration) override;
  void setSpeed(double speed);

 private:
  mutable std::mutex mutex_;
  std::atomic<double> speed_;  // written under `mutex_`
  platform::Date base_ = std::chrono::system_clock::now();
  std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
};

}  // namespace quillory::testing
