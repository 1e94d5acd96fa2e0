#include "presentation/RelativeDateText.h"

#include <unicode/calendar.h>
#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <chrono>
#include <memory>

#include "platform/Iso8601.h"

namespace quillory::presentation {
namespace {

UDate toUDate(platform::Date date) {
  return static_cast<UDate>(
      std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count());
}

std::unique_ptr<icu::TimeZone> makeTimeZone(const std::string& id) {
  if (id.empty()) return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createDefault());
  return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(id)));
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// Formats with the locale's best pattern for the skeleton; none on failure.
bool formatWithSkeleton(const char* skeleton, UDate when, const icu::Locale& locale,
                        const icu::TimeZone& zone, icu::DateTimePatternGenerator& generator,
                        std::string& out) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString pattern = generator.getBestPattern(icu::UnicodeString(skeleton), status);
  if (U_FAILURE(status)) return false;
  icu::SimpleDateFormat formatter(pattern, locale, status);
  if (U_FAILURE(status)) return false;
  formatter.setTimeZone(zone);
  icu::UnicodeString text;
  formatter.format(when, text);
  out.clear();
  text.toUTF8String(out);
  return true;
}

struct Day {
  int32_t era, year, month, day;
  bool operator==(const Day&) const = default;
};

// The calendar day of `when`, moved by `offsetDays`.
bool dayOf(icu::Calendar& calendar, UDate when, int offsetDays, Day& out) {
  UErrorCode status = U_ZERO_ERROR;
  calendar.setTime(when, status);
  if (offsetDays != 0) calendar.add(UCAL_DATE, offsetDays, status);
  out = Day{calendar.get(UCAL_ERA, status), calendar.get(UCAL_YEAR, status), calendar.get(UCAL_MONTH, status),
            calendar.get(UCAL_DATE, status)};
  return U_SUCCESS(status);
}

}  // namespace

std::string posixTimeLocale(const EnvironmentLookup& environment) {
  std::string name;
  for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
    if (const std::optional<std::string> value = environment(variable); value && !value->empty()) {
      name = *value;
      break;
    }
  }
  name = name.substr(0, name.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return "en_US_POSIX";
  return name;
}

std::string withHourCycle(const std::string& locale, std::optional<bool> uses24Hour) {
  if (!uses24Hour) return locale;
  icu::Locale withCycle(locale.c_str());
  UErrorCode status = U_ZERO_ERROR;
  withCycle.setKeywordValue("hours", *uses24Hour ? "h23" : "h12", status);
  return U_SUCCESS(status) ? withCycle.getName() : locale;
}

std::string relativeDateText(platform::Date date, platform::Date now, const DateTextSettings& settings) {
  const icu::Locale locale =
      settings.locale.empty() ? icu::Locale::getDefault() : icu::Locale(settings.locale.c_str());
  const std::unique_ptr<icu::TimeZone> zone = makeTimeZone(settings.timeZone);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::DateTimePatternGenerator> generator(
      icu::DateTimePatternGenerator::createInstance(locale, status));
  std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(*zone, locale, status));
  if (U_FAILURE(status) || !generator || !calendar) return platform::formatIso8601(date);

  const UDate when = toUDate(date);
  const UDate current = toUDate(now);

  std::string time;
  if (!formatWithSkeleton("j:mm", when, locale, *zone, *generator, time))
    return platform::formatIso8601(date);
  replaceAll(time, "AM", "am");
  replaceAll(time, "PM", "pm");

  Day day{}, today{}, yesterday{};
  if (!dayOf(*calendar, when, 0, day) || !dayOf(*calendar, current, 0, today) ||
      !dayOf(*calendar, current, -1, yesterday)) {
    return platform::formatIso8601(date);
  }
  if (day == today) return "today at " + time;
  if (day == yesterday) return "yesterday at " + time;

  const bool sameYear = day.era == today.era && day.year == today.year;
  std::string dayText;
  if (!formatWithSkeleton(sameYear ? "d MMM" : "d MMM yyyy", when, locale, *zone, *generator, dayText)) {
    return platform::formatIso8601(date);
  }
  return dayText + " at " + time;
}

}  // namespace quillory::presentation
