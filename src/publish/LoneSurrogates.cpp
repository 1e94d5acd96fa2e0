#include "publish/LoneSurrogates.h"

#include <cstring>

#include "platform/Unicode.h"

namespace quillory::publish {
namespace {

constexpr unsigned char kSurrogateLead = 0xED;

// The value of four hex digits, or -1.
int hex4(std::string_view digits) {
  int value = 0;
  for (const char c : digits) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

bool isHighSurrogate(int u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(int u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

bool LoneSurrogateFilter::write(std::string_view piece, std::string_view& out) {
  if (held_.empty()) return filter(piece, false, out);
  joined_.assign(held_).append(piece);
  held_.clear();
  return filter(joined_, false, out);
}

bool LoneSurrogateFilter::finish(std::string_view& out) {
  joined_.swap(held_);
  held_.clear();
  return filter(joined_, true, out);
}

bool LoneSurrogateFilter::filter(std::string_view text, bool last, std::string_view& out) {
  const platform::Utf8Prefix utf8 = platform::wellFormedUtf8Prefix(text);
  if (utf8.illFormed || (last && utf8.complete != text.size())) return false;
  std::size_t end = utf8.complete;  // what follows is held back
  rewritten_.clear();
  std::size_t copied = 0;  // of `text`, into `rewritten_`
  std::size_t i = 0;
  // A backslash stands only in strings (anywhere else the parser refuses
  // it) and always begins an escape, so escapes are read pairwise from one
  // backslash to the next.
  while (i < end) {
    const void* found = std::memchr(text.data() + i, '\\', end - i);
    if (found == nullptr) break;
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    // An escape cut by the end of the piece waits for the rest.
    const auto cut = [&](std::size_t length) { return !last && at + length > end; };
    if (cut(2)) {
      end = at;
      break;
    }
    if (at + 1 >= end || text[at + 1] != 'u') {
      i = at + 2;
      continue;
    }
    if (cut(6)) {
      end = at;
      break;
    }
    const int unit = at + 6 <= end ? hex4(text.substr(at + 2, 4)) : -1;
    i = at + 6;
    if (unit < 0 || !(isHighSurrogate(unit) || isLowSurrogate(unit))) continue;
    if (isHighSurrogate(unit)) {
      if (cut(12)) {
        end = at;
        break;
      }
      if (at + 12 <= end && text[at + 6] == '\\' && text[at + 7] == 'u' &&
          isLowSurrogate(hex4(text.substr(at + 8, 4)))) {
        i = at + 12;  // a pair: one character, the parser's
        continue;
      }
    }
    // A lone surrogate (a low one here is never the second of a pair).
    rewritten_.append(text.substr(copied, at - copied));
    rewritten_ += static_cast<char>(kSurrogateLead);
    rewritten_ += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    rewritten_ += static_cast<char>(0x80 | (unit & 0x3F));
    copied = at + 6;
    rewroteAny_ = true;
  }
  if (copied == 0) {
    out = text.substr(0, end);
  } else {
    rewritten_.append(text.substr(copied, end - copied));
    out = rewritten_;
  }
  // `text` may be `joined_`: the held bytes go to `held_`, which is not it.
  held_.assign(text.substr(end));
  return true;
}

namespace detail {

std::size_t nextSurrogate(std::string_view text, std::size_t from, bool& whole) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) != kSurrogateLead) continue;
    if (i + 1 == text.size()) {
      whole = false;
      return i;
    }
    // ED 80..9F begins a character below U+D800; ED A0..BF only a surrogate.
    if (static_cast<unsigned char>(text[i + 1]) < 0xA0) continue;
    whole = i + 2 < text.size();
    return i;
  }
  return text.size();
}

std::string surrogateEscape(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  const unsigned unit = 0xD000u | ((static_cast<unsigned char>(bytes[1]) & 0x3Fu) << 6) |
                        (static_cast<unsigned char>(bytes[2]) & 0x3Fu);
  return {'\\',
          'u',
          kHex[(unit >> 12) & 0xF],
          kHex[(unit >> 8) & 0xF],
          kHex[(unit >> 4) & 0xF],
          kHex[unit & 0xF]};
}

}  // namespace detail

std::string withSurrogatesReplaced(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  splitAtSurrogates(
      text, [&](std::string_view run) { result += run; }, [&](std::string_view) { result += "\uFFFD"; });
  return result;
}

}  // namespace quillory::publish
