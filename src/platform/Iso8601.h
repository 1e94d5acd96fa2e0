#pragma once
// Internet date-time timestamps (ISO 8601 profile of RFC 3339), strictly.
//
// `formatIso8601` writes UTC with whole seconds and "Z", for example
// 2026-12-05T11:32:21Z. `parseIso8601` accepts a full date, "T", a full time
// with whole seconds and a zone designator ("Z" or "+hh:mm"/"-hh:mm"); no
// fractional seconds, nothing before or after. Pure; any thread.

#include <optional>
#include <string>
#include <string_view>

#include "platform/Defaults.h"

namespace quillory::platform {

std::string formatIso8601(Date date);
std::optional<Date> parseIso8601(std::string_view text);

}  // namespace quillory::platform
