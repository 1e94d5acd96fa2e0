#include "platform/Unicode.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace quillory::platform {

namespace {

// UTF-8 to UTF-16; ICU replaces ill-formed sequences with U+FFFD.
icu::UnicodeString fromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string result;
  text.toUTF8String(result);
  return result;
}

// The next scalar at `i` (advanced past it), or a negative value for an
// ill-formed sequence (then `i` is past the bytes of that sequence).
UChar32 nextScalar(std::string_view text, int32_t& i) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  UChar32 c = 0;
  U8_NEXT(bytes, i, length, c);
  return c;
}

bool isTrimmed(UChar32 c) {
  if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85) return true;
  const int8_t type = u_charType(c);
  return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

}  // namespace

std::string upperCased(std::string_view text) {
  icu::UnicodeString s = fromUtf8(text);
  s.toUpper(icu::Locale::getRoot());
  return toUtf8(s);
}

std::string lowerCased(std::string_view text) {
  icu::UnicodeString s = fromUtf8(text);
  s.toLower(icu::Locale::getRoot());
  return toUtf8(s);
}

std::string composed(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  icu::UnicodeString source = fromUtf8(text);
  if (U_FAILURE(status)) return toUtf8(source);
  icu::UnicodeString result = nfc->normalize(source, status);
  if (U_FAILURE(status)) return toUtf8(source);
  return toUtf8(result);
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  return composed(a) == composed(b);
}

bool canonicallyLess(std::string_view a, std::string_view b) {
  // UTF-8 byte order is code-point order.
  return composed(a) < composed(b);
}

std::string filenameCharactersOnly(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  int32_t i = 0;
  const auto length = static_cast<int32_t>(text.size());
  while (i < length) {
    const int32_t start = i;
    const UChar32 c = nextScalar(text, i);
    if (c < 0) continue;  // U+FFFD, a symbol: dropped
    const bool keep =
        c == '-' || c == '_' || (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
    if (keep)
      result.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
  }
  return result;
}

bool isValidUtf8(std::string_view bytes) {
  int32_t i = 0;
  const auto length = static_cast<int32_t>(bytes.size());
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return false;
  while (i < length) {
    if (nextScalar(bytes, i) < 0) return false;
  }
  return true;
}

std::string trimmedWhitespaceAndNewlines(std::string_view text) {
  // Find the first and the end of the last scalar that is not trimmed; an
  // ill-formed sequence stands for U+FFFD, which is kept.
  const auto length = static_cast<int32_t>(text.size());
  int32_t i = 0;
  int32_t first = -1;
  int32_t end = 0;
  while (i < length) {
    const int32_t start = i;
    const UChar32 c = nextScalar(text, i);
    if (c >= 0 && isTrimmed(c)) continue;
    if (first < 0) first = start;
    end = i;
  }
  if (first < 0) return {};
  return std::string(text.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(end - first)));
}

}  // namespace quillory::platform
