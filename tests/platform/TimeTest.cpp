#include <gtest/gtest.h>

#include <fstream>

#include "platform/Iso8601.h"
#include "platform/posix/SystemClock.h"

namespace quillory::platform {
namespace {

using namespace std::chrono;

Date at(int y, unsigned mo, unsigned d, int h, int mi, int s) {
  return sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

// Whole seconds in UTC, dropped downwards, also before 1970; only the strict
// form is read, with any zone offset.
TEST(Iso8601Test, FormatsWholeSecondsInUtcAndParsesOnlyTheStrictForm) {
  EXPECT_EQ(formatIso8601(at(1901, 3, 4, 5, 6, 7) + milliseconds(999)), "1901-03-04T05:06:07Z");
  for (const char* text : {"2026-12-05T11:32:21Z", "2026-12-05T12:32:21+01:00", "2026-12-05T06:02:21-05:30",
                           "2026-12-05T11:32:21-00:00"})
    EXPECT_EQ(parseIso8601(text), at(2026, 12, 5, 11, 32, 21)) << text;
  for (const char* text :
       {"", "2026-12-05T11:32:21.5Z", "2026-12-05T11:32:21", "2026-12-05T11:32:21Z\n",
        " 2026-12-05T11:32:21Z", "2026-12-05 11:32:21Z", "2026-12-05t11:32:21Z", "2026-13-05T11:32:21Z",
        "2026-02-29T11:32:21Z", "2026-04-31T11:32:21Z", "2026-12-05T24:00:00Z", "2026-12-05T11:32:60Z",
        "2026-12-05T11:32:21+24:00", "2026-12-05T11:32:21+01:60", "2026-12-05T11:32:21+0100",
        "+026-12-05T11:32:21Z", "2026-1a-05T11:32:21Z", "0001-01-01T00:00:00Z",
        "9999-12-31T23:59:59Z"})  // the last two: beyond what Date holds
    EXPECT_EQ(parseIso8601(text), std::nullopt) << text;
}

// The system clock's monotonic reading counts from the machine's start, as
// /proc/uptime does (suspended time included): a reading that followed the
// wall clock would make an interval negative, or a user idle, whenever the
// system's clock is set.
TEST(SystemClock, MonotonicReadingIsTheTimeSinceTheMachineStarted) {
  double uptime = -1;
  std::ifstream("/proc/uptime") >> uptime;
  if (uptime < 0) GTEST_SKIP() << "no /proc/uptime here";
  EXPECT_NEAR(duration<double>(posix::SystemClock().monotonicNow().time_since_epoch()).count(), uptime, 5.0);
}

}  // namespace
}  // namespace quillory::platform
