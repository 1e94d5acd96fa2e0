#include <gtest/gtest.h>

#include "ShellFixture.h"
#include "app/RelativeDateText.h"

namespace quillory::app::test {
namespace {

struct DateCase {
  std::string name;
  std::string locale, zone;
  platform::Date now, date;
  std::string expected;
  friend void PrintTo(const DateCase& c, std::ostream* os) { *os << c.name; }
};

class RelativeDateTextTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(RelativeDateTextTest, Formats) {
  const DateCase& c = GetParam();
  EXPECT_EQ(relativeDateText(c.date, c.now, {c.locale, c.zone}), c.expected);
}

const platform::Date kNow = utc(2026, 12, 5, 9, 0);
const std::string kNarrow = "\u202F";

INSTANTIATE_TEST_SUITE_P(
    Locales, RelativeDateTextTest,
    ::testing::Values(
        // US English: 12-hour time, "am"/"pm" in lower case, month before day.
        DateCase{"UsToday", "en_US", "UTC", kNow, utc(2026, 12, 5, 9, 41), "today at 9:41" + kNarrow + "am"},
        DateCase{"UsMidnightIsToday", "en_US", "UTC", kNow, utc(2026, 12, 5, 0, 0),
                 "today at 12:00" + kNarrow + "am"},
        DateCase{"UsYesterday", "en_US", "UTC", kNow, utc(2026, 12, 4, 23, 59),
                 "yesterday at 11:59" + kNarrow + "pm"},
        DateCase{"UsThisYear", "en_US", "UTC", kNow, utc(2026, 3, 5, 9, 41),
                 "Mar 5 at 9:41" + kNarrow + "am"},
        DateCase{"UsEarlierYear", "en_US", "UTC", kNow, utc(2025, 3, 5, 21, 41),
                 "Mar 5, 2025 at 9:41" + kNarrow + "pm"},
        DateCase{"UsTomorrowIsADay", "en_US", "UTC", kNow, utc(2026, 12, 6, 9, 0),
                 "Dec 6 at 9:00" + kNarrow + "am"},
        // 24-hour locales: no am or pm, their own day patterns.
        DateCase{"GbToday", "en_GB", "UTC", kNow, utc(2026, 12, 5, 9, 41), "today at 09:41"},
        DateCase{"GbEarlierYear", "en_GB", "UTC", kNow, utc(2025, 3, 5, 21, 41), "5 Mar 2025 at 21:41"},
        DateCase{"DeThisYear", "de_DE", "Europe/Berlin", kNow, utc(2026, 3, 5, 8, 41),
                 "5. M\u00E4rz at 09:41"},
        // Days are the time zone's: 23:30 UTC is already the next day in
        // Berlin.
        DateCase{"ZoneMovesTheDay", "de_DE", "Europe/Berlin", kNow, utc(2026, 12, 4, 23, 30),
                 "today at 00:30"},
        // ... and so are years: it is still 2026 in Los Angeles.
        DateCase{"ZoneMovesTheYear", "en_US", "America/Los_Angeles", utc(2027, 1, 1, 7, 0),
                 utc(2026, 12, 29, 20, 0), "Dec 29 at 12:00" + kNarrow + "pm"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quillory::app::test
