#pragma once
// A clock whose time the test sets. `sleepFor` moves the time forward by the
// given duration instead of blocking. Thread-safe.

#include <cstddef>
#include <mutex>

#include "platform/Clock.h"

namespace quillory::testing {

class FakeClock final : public platform::Clock {
 public:
  // 2026-12-05T09:00:00Z, a fixed instant, unless another start is given.
  static platform::Date defaultStart();

  explicit FakeClock(platform::Date start = defaultStart());

  platform::Date now() const override;
  void sleepFor(std::chrono::milliseconds duration) override;

  void set(platform::Date now);
  void advance(platform::Date::duration duration);
  // How many times sleepFor was called.
  std::size_t sleepCount() const;

 private:
  mutable std::mutex mutex_;
  platform::Date now_;
  std::size_t sleeps_ = 0;
};

}  // namespace quillory::testing
