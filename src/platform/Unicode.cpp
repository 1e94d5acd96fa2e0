#include "platform/Unicode.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

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

// Whether `length` bytes into the text is the start of a scalar (not inside
// a UTF-8 sequence).
bool isScalarBoundary(std::string_view text, std::size_t length) {
  return length >= text.size() || (static_cast<unsigned char>(text[length]) & 0xC0) != 0x80;
}

bool isAsciiTrimmed(unsigned char c) { return c == ' ' || c == '\t' || (c >= 0x0A && c <= 0x0D); }

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

std::string withoutControlCharacters(std::string_view text) {
  const auto dropped = [](UChar32 c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
  };
  std::string result;
  result.reserve(text.size());
  for (int32_t i = 0; i < static_cast<int32_t>(text.size());) {
    const int32_t start = i;
    const UChar32 c = nextScalar(text, i);
    if (c < 0 || !dropped(c))
      result.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
  }
  return result;
}

std::size_t fittingPrefixLength(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  // A boundary depends only on the characters before it and the one after
  // it, so the text past the character at `maxBytes` is not looked at.
  text = text.substr(0, maxBytes + 4);
  // Boundaries of user-perceived characters, as byte offsets into the UTF-8 text.
  UErrorCode status = U_ZERO_ERROR;
  UText* utf8 = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
  const std::unique_ptr<UText, decltype(&utext_close)> closer(utf8, &utext_close);
  const std::unique_ptr<icu::BreakIterator> characters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_SUCCESS(status) && characters) characters->setText(utf8, status);
  if (U_SUCCESS(status) && characters) {
    const int32_t boundary = characters->preceding(static_cast<int32_t>(maxBytes) + 1);
    if (boundary > 0 && isScalarBoundary(text, static_cast<std::size_t>(boundary))) {
      return static_cast<std::size_t>(boundary);
    }
  }
  // Whole scalars (an ill-formed byte counts as one).
  int32_t end = 0;
  for (int32_t i = 0; i < static_cast<int32_t>(text.size());) {
    (void)nextScalar(text, i);
    if (static_cast<std::size_t>(i) > maxBytes) break;
    end = i;
  }
  return static_cast<std::size_t>(end);
}

namespace {

Utf8Prefix wellFormedPrefix(std::string_view bytes) {
  const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* p = begin;
  const auto* const end = p + bytes.size();
  const auto at = [&](const unsigned char* q, bool illFormed) {
    return Utf8Prefix{static_cast<std::size_t>(q - begin), illFormed};
  };
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  while (p != end) {
    // ASCII runs 16 bytes at a time: no byte has its high bit set.
    while (end - p >= 16) {
      std::uint64_t a;
      std::uint64_t b;
      std::memcpy(&a, p, 8);
      std::memcpy(&b, p + 8, 8);
      if (((a | b) & kHighBits) != 0) break;
      p += 16;
    }
    if (p == end) break;
    const unsigned char lead = *p;
    if (lead < 0x80) {
      ++p;
      continue;
    }
    // Well-formed sequences (Unicode's table of well-formed UTF-8 byte
    // sequences): the second byte's range depends on the lead byte, which
    // excludes overlong forms, surrogates and values above U+10FFFF.
    std::ptrdiff_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead == 0xE0) {
      length = 3;
      low = 0xA0;
    } else if (lead == 0xED) {
      length = 3;
      high = 0x9F;
    } else if (lead >= 0xE1 && lead <= 0xEF) {
      length = 3;
    } else if (lead == 0xF0) {
      length = 4;
      low = 0x90;
    } else if (lead == 0xF4) {
      length = 4;
      high = 0x8F;
    } else if (lead >= 0xF1 && lead <= 0xF3) {
      length = 4;
    } else {
      return at(p, true);
    }
    const std::ptrdiff_t present = std::min(length, end - p);
    if (present > 1 && (p[1] < low || p[1] > high)) return at(p, true);
    for (std::ptrdiff_t i = 2; i < present; ++i) {
      if ((p[i] & 0xC0) != 0x80) return at(p, true);
    }
    if (present < length) return at(p, false);
    p += length;
  }
  return at(p, false);
}

// The length of the sequence a well-formed lead byte begins.
std::size_t sequenceLength(unsigned char lead) { return lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; }

// Where the text starts without its leading white space.
std::size_t trimmedFront(std::string_view text) {
  // From the front, scalar by scalar; an ill-formed sequence stands for
  // U+FFFD, which is kept.
  std::size_t first = 0;
  while (first < text.size()) {
    const auto byte = static_cast<unsigned char>(text[first]);
    if (byte < 0x80) {
      if (!isAsciiTrimmed(byte)) break;
      ++first;
      continue;
    }
    int32_t i = 0;
    const UChar32 c = nextScalar(text.substr(first, 4), i);
    if (c < 0 || !isTrimmed(c)) break;
    first += static_cast<std::size_t>(i);
  }
  return first;
}

// Where the text ends without its trailing white space, looking no further
// back than `first`.
std::size_t trimmedBack(std::string_view text, std::size_t first) {
  // The last scalar starts at the last byte that is not a continuation byte
  // (within four bytes). A lead byte is never part of an earlier sequence,
  // so this finds the same scalars the front-to-back reading would, and
  // anything that does not decode to exactly the bytes up to the end is
  // ill-formed, hence kept.
  std::size_t end = text.size();
  while (end > first) {
    const auto byte = static_cast<unsigned char>(text[end - 1]);
    if (byte < 0x80) {
      if (!isAsciiTrimmed(byte)) break;
      --end;
      continue;
    }
    std::size_t start = end - 1;
    while (start > first && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
      --start;
    int32_t i = 0;
    const std::string_view last = text.substr(start, end - start);
    const UChar32 c = nextScalar(last, i);
    if (c < 0 || static_cast<std::size_t>(i) != last.size() || !isTrimmed(c)) break;
    end = start;
  }
  return end;
}

}  // namespace

Utf8Prefix wellFormedUtf8Prefix(std::string_view bytes) { return wellFormedPrefix(bytes); }

bool isValidUtf8(std::string_view bytes) {
  const Utf8Prefix prefix = wellFormedPrefix(bytes);
  return prefix.complete == bytes.size();
}

std::pair<std::size_t, std::size_t> trimmedBounds(std::string_view text) {
  // Only the ends are classified.
  const std::size_t first = trimmedFront(text);
  return {first, trimmedBack(text, first)};
}

TrimmedUtf8Stream::TrimmedUtf8Stream(Sink sink) : sink_(std::move(sink)) {}

bool TrimmedUtf8Stream::write(std::string_view bytes) {
  if (failed_) return false;
  if (partialSize_ > 0) {
    // Complete the sequence the last bytes began.
    const std::size_t length = sequenceLength(static_cast<unsigned char>(partial_[0]));
    const std::size_t take = std::min(length - partialSize_, bytes.size());
    bytes.copy(partial_ + partialSize_, take);
    partialSize_ += take;
    bytes.remove_prefix(take);
    const std::string_view sequence(partial_, partialSize_);
    const Utf8Prefix prefix = wellFormedPrefix(sequence);
    if (prefix.illFormed) return fail();
    if (partialSize_ < length) return true;
    partialSize_ = 0;
    pass(sequence);
  }
  const Utf8Prefix prefix = wellFormedPrefix(bytes);
  if (prefix.illFormed) return fail();
  pass(bytes.substr(0, prefix.complete));
  partialSize_ = bytes.copy(partial_, bytes.size() - prefix.complete, prefix.complete);
  return true;
}

bool TrimmedUtf8Stream::finish() {
  held_.clear();
  if (partialSize_ > 0) fail();
  return !failed_;
}

bool TrimmedUtf8Stream::fail() {
  failed_ = true;
  held_.clear();
  return false;
}

void TrimmedUtf8Stream::pass(std::string_view scalars) {
  if (!started_) {
    scalars.remove_prefix(trimmedFront(scalars));
    if (scalars.empty()) return;
    started_ = true;
  }
  const std::size_t end = trimmedBack(scalars, 0);
  if (end > 0) {
    if (!held_.empty()) sink_(held_);
    sink_(scalars.substr(0, end));
    passedAny_ = true;
    held_.clear();
  }
  held_.append(scalars.substr(end));
}

std::string trimmedWhitespaceAndNewlines(std::string_view text) {
  const auto [first, end] = trimmedBounds(text);
  return std::string(text.substr(first, end - first));
}

}  // namespace quillory::platform
