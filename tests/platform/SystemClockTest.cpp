// The system clock's monotonic reading counts from the machine's start, as
// /proc/uptime does (suspended time included): a reading that followed the
// wall clock would make an interval negative, or a user idle, whenever the
// system's clock is set.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "platform/posix/SystemClock.h"

namespace quillory::platform::posix::test {
namespace {

TEST(SystemClock, MonotonicReadingIsTheTimeSinceTheMachineStarted) {
  double uptime = -1;
  std::ifstream("/proc/uptime") >> uptime;
  if (uptime < 0) GTEST_SKIP() << "no /proc/uptime here";
  const auto reading = std::chrono::duration<double>(SystemClock().monotonicNow().time_since_epoch());
  EXPECT_NEAR(reading.count(), uptime, 5.0);
}

}  // namespace
}  // namespace quillory::platform::posix::test
