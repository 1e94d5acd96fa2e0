#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "presentation/RelativeDateText.h"

namespace quillory::presentation {
namespace {

platform::Date utc(int year, unsigned month, unsigned day, int hour, int minute) {
  return std::chrono::sys_days{std::chrono::year{year} / std::chrono::month{month} / std::chrono::day{day}} +
         std::chrono::hours{hour} + std::chrono::minutes{minute};
}

const platform::Date kNow = utc(2026, 12, 5, 9, 0);
const std::string kNarrow = "\u202F";  // CLDR's space before "am"/"pm" in US English

// (Today and yesterday in US English: the Qt shell's tests.) The last two
// rows: the user's hour cycle over the locale's.
TEST(RelativeDateText, NamesTheDayInTheZoneAndTheTimeInTheLocalesCycle) {
  const struct {
    std::string locale, zone;
    platform::Date now, date;
    std::string expected;
  } cases[] = {
      {"en_US", "UTC", kNow, utc(2025, 3, 5, 21, 41), "Mar 5, 2025 at 9:41" + kNarrow + "pm"},
      // 23:30 UTC is already the next day in Berlin, and still 2026 in Los Angeles.
      {"de_DE", "Europe/Berlin", kNow, utc(2026, 12, 4, 23, 30), "today at 00:30"},
      {"en_US", "America/Los_Angeles", utc(2027, 1, 1, 7, 0), utc(2026, 12, 29, 20, 0),
       "Dec 29 at 12:00" + kNarrow + "pm"},
      {withHourCycle("en_US", true), "UTC", kNow, utc(2026, 12, 5, 15, 38), "today at 15:38"},
      {withHourCycle("en_GB", false), "UTC", kNow, utc(2026, 12, 5, 15, 38),
       "today at 3:38" + kNarrow + "pm"},
  };
  for (const auto& c : cases) EXPECT_EQ(relativeDateText(c.date, c.now, {c.locale, c.zone}), c.expected);
}

// The C library's precedence for times, without codeset and modifier.
TEST(TimeLocale, FollowsTheEnvironment) {
  const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases = {
      {{{"LANG", "en_US.UTF-8"}, {"LC_TIME", "en_GB.UTF-8"}}, "en_GB"},
      {{{"LC_ALL", "de_DE.UTF-8@euro"}, {"LC_TIME", "en_US.UTF-8"}}, "de_DE"},
      {{{"LC_ALL", ""}, {"LC_TIME", ""}, {"LANG", "en_US.UTF-8"}}, "en_US"},
      {{{"LANG", "C.UTF-8"}}, "en_US_POSIX"},
  };
  for (const auto& [environment, locale] : cases) {
    const auto lookup = [&](const char* name) {
      return environment.contains(name) ? std::optional(environment.at(name)) : std::nullopt;
    };
    EXPECT_EQ(posixTimeLocale(lookup), locale);
  }
}

}  // namespace
}  // namespace quillory::presentation
