// Fuzzes the update marker's date: the bytes of a marker file, checked for
// UTF-8, trimmed of white space and newlines, and parsed as an ISO 8601
// internet date-time, as the status line reads it.
//
// Properties: no crash; trimming leaves valid UTF-8 and is idempotent; a
// parsed instant formats to a timestamp that parses back to the same instant;
// a text in the canonical form (UTC, "Z", whole seconds) formats back to
// itself, except for a leap second, which the instant cannot keep.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/Iso8601.h"
#include "platform/Unicode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillory;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // The raw bytes go straight to the parser too: it must refuse anything
  // that is not a timestamp without looking past the end.
  (void)platform::parseIso8601(bytes);

  if (!platform::isValidUtf8(bytes)) return 0;
  const std::string trimmed = platform::trimmedWhitespaceAndNewlines(bytes);
  QUILLORY_FUZZ_CHECK(platform::isValidUtf8(trimmed));
  QUILLORY_FUZZ_CHECK(trimmed.size() <= bytes.size());
  QUILLORY_FUZZ_CHECK(platform::trimmedWhitespaceAndNewlines(trimmed) == trimmed);

  const auto date = platform::parseIso8601(trimmed);
  if (!date) return 0;
  const std::string formatted = platform::formatIso8601(*date);
  QUILLORY_FUZZ_CHECK(platform::parseIso8601(formatted) == date);
  const bool canonical = trimmed.size() == 20 && trimmed.back() == 'Z';
  const bool leapSecond = trimmed.size() >= 19 && trimmed.substr(17, 2) == "60";
  if (canonical && !leapSecond) QUILLORY_FUZZ_CHECK(formatted == trimmed);
  return 0;
}
