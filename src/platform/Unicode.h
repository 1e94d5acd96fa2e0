#pragma once
// Unicode text operations on UTF-8 strings, after ICU.
//
// Pure functions, callable from any thread. Invalid UTF-8 never crashes:
// ill-formed sequences are treated as U+FFFD.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace quillory::platform {

// Full default (locale-independent) case mappings of the whole string.
std::string upperCased(std::string_view text);
std::string lowerCased(std::string_view text);

// Canonical composition (NFC).
std::string composed(std::string_view text);

// Equal under canonical equivalence (case-sensitive).
bool canonicallyEqual(std::string_view a, std::string_view b);

// Orders by the code points of the canonically composed texts.
bool canonicallyLess(std::string_view a, std::string_view b);

// Keeps the scalars of general category L, M or N and "-" and "_".
std::string filenameCharactersOnly(std::string_view text);

// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

// Removes leading and trailing white space and newlines: tab, U+000A to
// U+000D, U+0085 and the separator categories Zs, Zl and Zp.
std::string trimmedWhitespaceAndNewlines(std::string_view text);

// The same trim as offsets: the text without that white space is
// [first, end). Only the scalars at the two ends are looked at, so the cost
// does not grow with the text.
std::pair<std::size_t, std::size_t> trimmedBounds(std::string_view text);

}  // namespace quillory::platform
