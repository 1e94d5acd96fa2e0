#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "presentation/RelativeDateText.h"

namespace quillory::presentation {
namespace {

platform::Date utc(int year, unsigned month, unsigned day, int hour, int minute) {
  using namespace std::chrono;
  return sys_days{std::chrono::year{year} / std::chrono::month{month} / std::chrono::day{day}} + hours{hour} +
         minutes{minute};
}

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

// The locale the applications take from the environment, with the user's
// 12/24-hour choice where the system has one, all the way to the text.
struct EnvironmentCase {
  std::string name;
  std::map<std::string, std::string> environment;
  std::optional<bool> uses24Hour;
  std::string locale, today;
  friend void PrintTo(const EnvironmentCase& c, std::ostream* os) { *os << c.name; }
};

class TimeLocaleTest : public ::testing::TestWithParam<EnvironmentCase> {};

TEST_P(TimeLocaleTest, FollowsTheEnvironmentAndTheHourCycle) {
  const EnvironmentCase& c = GetParam();
  const std::string locale =
      withHourCycle(posixTimeLocale([&](const char* name) -> std::optional<std::string> {
                      const auto found = c.environment.find(name);
                      if (found == c.environment.end()) return std::nullopt;
                      return found->second;
                    }),
                    c.uses24Hour);
  EXPECT_EQ(locale, c.locale);
  EXPECT_EQ(relativeDateText(utc(2026, 12, 5, 15, 38), kNow, {locale, "UTC"}), c.today);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, TimeLocaleTest,
    ::testing::Values(
        EnvironmentCase{"TimeOverLang",
                        {{"LANG", "en_US.UTF-8"}, {"LC_TIME", "en_GB.UTF-8"}},
                        {},
                        "en_GB",
                        "today at 15:38"},
        EnvironmentCase{"AllOverTime",
                        {{"LC_ALL", "de_DE.UTF-8@euro"}, {"LC_TIME", "en_US.UTF-8"}, {"LANG", "en_GB"}},
                        {},
                        "de_DE",
                        "today at 15:38"},
        EnvironmentCase{"EmptyCountsAsUnset",
                        {{"LC_ALL", ""}, {"LC_TIME", ""}, {"LANG", "en_US.UTF-8"}},
                        {},
                        "en_US",
                        "today at 3:38" + kNarrow + "pm"},
        EnvironmentCase{"NoneIsPosix", {}, {}, "en_US_POSIX", "today at 3:38" + kNarrow + "pm"},
        EnvironmentCase{
            "CIsPosix", {{"LANG", "C.UTF-8"}}, {}, "en_US_POSIX", "today at 3:38" + kNarrow + "pm"},
        EnvironmentCase{
            "UserWants24Hours", {{"LANG", "en_US.UTF-8"}}, true, "en_US@hours=h23", "today at 15:38"},
        EnvironmentCase{"UserWants12Hours",
                        {{"LANG", "en_GB.UTF-8"}},
                        false,
                        "en_GB@hours=h12",
                        "today at 3:38" + kNarrow + "pm"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quillory::presentation
