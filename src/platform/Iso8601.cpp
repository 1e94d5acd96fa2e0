#include "platform/Iso8601.h"

#include <chrono>
#include <cstdio>

namespace quillory::platform {

namespace {

// Reads exactly `count` ASCII digits at `pos`.
bool digits(std::string_view text, std::size_t pos, std::size_t count, int& out) {
  if (pos + count > text.size()) return false;
  int value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  out = value;
  return true;
}

}  // namespace

std::string formatIso8601(Date date) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(date);
  const auto day = floor<days>(seconds);
  const year_month_day ymd{day};
  const hh_mm_ss<std::chrono::seconds> time{seconds - day};
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return buffer;
}

std::optional<Date> parseIso8601(std::string_view text) {
  using namespace std::chrono;
  // YYYY-MM-DDTHH:MM:SS then Z or +hh:mm / -hh:mm
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (text.size() != 20 && text.size() != 25) return std::nullopt;
  if (!digits(text, 0, 4, y) || text[4] != '-' || !digits(text, 5, 2, mo) || text[7] != '-' ||
      !digits(text, 8, 2, d) || text[10] != 'T' || !digits(text, 11, 2, h) || text[13] != ':' ||
      !digits(text, 14, 2, mi) || text[16] != ':' || !digits(text, 17, 2, s)) {
    return std::nullopt;
  }
  if (h > 23 || mi > 59 || s > 59) return std::nullopt;
  const year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
  if (!ymd.ok()) return std::nullopt;

  int offsetMinutes = 0;
  if (text.size() == 20) {
    if (text[19] != 'Z') return std::nullopt;
  } else {
    const char sign = text[19];
    int oh = 0, om = 0;
    if ((sign != '+' && sign != '-') || !digits(text, 20, 2, oh) || text[22] != ':' ||
        !digits(text, 23, 2, om)) {
      return std::nullopt;
    }
    if (oh > 23 || om > 59) return std::nullopt;
    offsetMinutes = (oh * 60 + om) * (sign == '-' ? -1 : 1);
  }
  const sys_seconds instant = sys_days{ymd} + hours{h} + minutes{mi} + seconds{s} - minutes{offsetMinutes};
  // Date counts in a fine unit and cannot hold every year from 0000 to 9999.
  if (instant < ceil<seconds>(Date::min()) || instant > floor<seconds>(Date::max())) return std::nullopt;
  return time_point_cast<Date::duration>(instant);
}

}  // namespace quillory::platform
