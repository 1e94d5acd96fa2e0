#include "publish/JsonWriter.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace quillory::publish {
namespace {

// For each byte: 0 when it is written as it is, otherwise the character
// after the backslash ('u' for the \u00XX form).
constexpr std::array<char, 256> makeEscapes() {
  std::array<char, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = 'u';
  table['\b'] = 'b';
  table['\f'] = 'f';
  table['\n'] = 'n';
  table['\r'] = 'r';
  table['\t'] = 't';
  table['"'] = '"';
  table['\\'] = '\\';
  table['/'] = '/';
  return table;
}
constexpr std::array<char, 256> kEscapes = makeEscapes();

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Nonzero exactly when one of the eight bytes is zero.
constexpr std::uint64_t hasZeroByte(std::uint64_t v) { return (v - kOnes) & ~v & kHighBits; }

// Nonzero exactly when one of the eight bytes needs escaping: below 0x20,
// '"', '\' or '/'. Bytes of 0x80 and above never do.
constexpr std::uint64_t needsEscape(std::uint64_t v) {
  const std::uint64_t control = (v - kOnes * 0x20) & ~v & kHighBits;
  return control | hasZeroByte(v ^ (kOnes * '"')) | hasZeroByte(v ^ (kOnes * '\\')) |
         hasZeroByte(v ^ (kOnes * '/'));
}

}  // namespace

namespace {

// The length of the longest prefix of `text` that needs no escaping.
std::size_t cleanPrefix(std::string_view text) {
  const char* const begin = text.data();
  const char* p = begin;
  const char* const end = begin + text.size();
  for (; end - p >= 8; p += 8) {
    std::uint64_t chunk;
    std::memcpy(&chunk, p, sizeof chunk);
    if (needsEscape(chunk) != 0) break;
  }
  while (p != end && kEscapes[static_cast<unsigned char>(*p)] == 0) ++p;
  return static_cast<std::size_t>(p - begin);
}

// Writes `text` escaped through `put` (one byte) and `append` (a run).
template <typename Put, typename Append>
void escape(std::string_view text, Put put, Append append) {
  while (true) {
    const std::size_t clean = cleanPrefix(text);
    append(text.substr(0, clean));
    if (clean == text.size()) return;
    const auto byte = static_cast<unsigned char>(text[clean]);
    const char escape = kEscapes[byte];
    put('\\');
    put(escape);
    if (escape == 'u') {
      static constexpr char kHex[] = "0123456789abcdef";
      put('0');
      put('0');
      put(kHex[byte >> 4]);
      put(kHex[byte & 0xf]);
    }
    text.remove_prefix(clean + 1);
  }
}

}  // namespace

void JsonWriter::appendEscaped(std::string_view text) {
  escape(
      text, [this](char c) { put(c); }, [this](std::string_view run) { append(run); });
}

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  escape(
      text, [&out](char c) { out += c; }, [&out](std::string_view run) { out += run; });
  out += '"';
}

}  // namespace quillory::publish
