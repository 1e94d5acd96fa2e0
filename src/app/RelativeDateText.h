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

#include <string>

#include "platform/Defaults.h"

namespace quillory::app {

struct DateTextSettings {
  // An ICU locale name such as "en_US" or "de_DE"; empty for the process's
  // default locale (from the environment).
  std::string locale;
  // An Olson time zone identifier such as "Europe/Berlin"; empty for the
  // system's time zone.
  std::string timeZone;
};

std::string relativeDateText(platform::Date date, platform::Date now, const DateTextSettings& settings);

}  // namespace quillory::app
