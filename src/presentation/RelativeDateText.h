#pragma once
// The relative time shown after "Last sync: " in the status line, for example
// "today at 9:41 am", "yesterday at 23:59", "Mar 5 at 9:41 am" or
// "5 Mar 2025 at 09:41".
//
// The time text uses the locale's best pattern for "j:mm" (its own 12- or
// 24-hour cycle), with "AM"/"PM" written "am"/"pm". Today and yesterday are
// the calendar days of the locale's calendar in the time zone; any other day,
// also one after today, is written with the locale's best pattern for
// "d MMM", or "d MMM yyyy" when its year differs from the current one.
//
// Pure: the instant "now", the locale and the time zone are passed in. Any
// thread.

#include <optional>
#include <string>

#include "platform/Defaults.h"
#include "platform/Environment.h"

namespace quillory::presentation {

struct DateTextSettings {
  // An ICU locale name such as "en_US", "de_DE" or "en_US@hours=h23"; empty
  // for ICU's default locale. The applications pass the user's time locale
  // (below).
  std::string locale;
  // An Olson time zone identifier such as "Europe/Berlin"; empty for the
  // system's time zone.
  std::string timeZone;
};

std::string relativeDateText(platform::Date date, platform::Date now, const DateTextSettings& settings);

using platform::EnvironmentLookup;

// The user's time locale on a POSIX system, as ICU names it: the first
// non-empty of LC_ALL, LC_TIME and LANG (the C library's precedence for
// times), with the codeset (".UTF-8") and the modifier ("@euro") removed;
// "en_US_POSIX" when none is set or the locale is "C" or "POSIX". Only the
// environment is read, so the result does not depend on which locales the C
// library has installed.
std::string posixTimeLocale(const EnvironmentLookup& environment);

// `locale` with the user's choice of a 12- or 24-hour clock (none: the
// locale's own), as ICU's "hours" keyword.
std::string withHourCycle(const std::string& locale, std::optional<bool> uses24Hour);

}  // namespace quillory::presentation
