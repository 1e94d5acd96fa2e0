#include "cli/TerminalText.h"

#include <cstdint>
#include <cstdio>

namespace quillory::cli {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text` (no
// overlong forms, no surrogates, nothing above U+10FFFF), or 0.
std::size_t sequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length;
  std::uint8_t low = 0x80;  // the allowed range of the second byte
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

void appendEscape(std::string& out, const char* prefix, unsigned value) {
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02x", value & 0xFFu);
  out += prefix;
  out += hex;
}

// Characters that show nothing or change the direction of what follows, so
// that two different names could look the same.
bool isInvisible(char32_t c) {
  return (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) ||
         (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

// The scalar of a well-formed three-byte sequence.
char32_t threeByteScalar(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<std::uint8_t>(text[i])); };
  return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
}

}  // namespace

std::string terminalText(std::string_view text, bool keepLineBreaks) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t length = sequenceLength(text);
    const auto lead = static_cast<std::uint8_t>(text.front());
    if (length == 0) {
      appendEscape(out, "\\x", lead);
      text.remove_prefix(1);
      continue;
    }
    if (length == 1 && (lead < 0x20 || lead == 0x7F) && !(keepLineBreaks && lead == '\n')) {
      appendEscape(out, "\\x", lead);
    } else if (length == 1 && lead == '\\') {
      out += "\\\\";
    } else if (length == 2 && lead == 0xC2 && static_cast<std::uint8_t>(text[1]) <= 0x9F) {
      appendEscape(out, "\\u00", static_cast<std::uint8_t>(text[1]));  // C2 80..C2 9F: U+0080..U+009F
    } else if (length == 3 && isInvisible(threeByteScalar(text))) {
      const char32_t c = threeByteScalar(text);
      appendEscape(out, "\\u", c >> 8);
      appendEscape(out, "", c);
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace quillory::cli
