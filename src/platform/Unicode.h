#pragma once
// Unicode text operations on UTF-8 strings, after ICU.
//
// Pure functions, callable from any thread. Invalid UTF-8 never crashes:
// ill-formed sequences are treated as U+FFFD.

#include <cstddef>
#include <functional>
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

// The text without the characters that must never reach a file name
// unseen: C0 and C1 controls, DEL, and the bidirectional formatting
// characters (U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069). Every
// other character, and every ill-formed byte, stays as it is.
std::string withoutControlCharacters(std::string_view text);

// The length in bytes of the longest start of the text that fits in
// `maxBytes` and ends between two user-perceived characters (extended
// grapheme clusters); when not even the first one fits, between two scalars.
// Never cuts a UTF-8 sequence. The whole length when the text fits.
std::size_t fittingPrefixLength(std::string_view text, std::size_t maxBytes);

// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

// How far the bytes are well-formed UTF-8, for a text that arrives in
// pieces: the length of the longest start made of whole well-formed
// sequences, and whether what follows it is ill-formed (otherwise it is
// empty or a sequence cut short by the end of the bytes).
struct Utf8Prefix {
  std::size_t complete = 0;
  bool illFormed = false;
};
Utf8Prefix wellFormedUtf8Prefix(std::string_view bytes);

// Removes leading and trailing white space and newlines: tab, U+000A to
// U+000D, U+0085 and the separator categories Zs, Zl and Zp.
std::string trimmedWhitespaceAndNewlines(std::string_view text);

// The same trim as offsets: the text without that white space is
// [first, end). Only the scalars at the two ends are looked at, so the cost
// does not grow with the text.
std::pair<std::size_t, std::size_t> trimmedBounds(std::string_view text);

// The same check and trim on a text that arrives in pieces, for output too
// large to hold whole: the pieces the sink receives, joined, are the trimmed
// text. Leading white space is skipped; a run of white space is held back
// until something other than white space follows it, so trailing white space
// never reaches the sink. A scalar cut by the edge of a piece waits for the
// rest of its bytes. Once the bytes are not well-formed UTF-8 the sink gets
// nothing more; then what it got is a prefix of no valid text and is to be
// dropped. Not thread-safe: one writer, and the sink is called on its thread.
class TrimmedUtf8Stream {
 public:
  using Sink = std::function<void(std::string_view piece)>;

  explicit TrimmedUtf8Stream(Sink sink);

  // Takes the next bytes; false once the bytes so far are not well-formed.
  bool write(std::string_view bytes);
  // Ends the text (white space held back is dropped); false when the bytes
  // are not well-formed, also when they end inside a sequence.
  bool finish();
  // Whether the sink has received anything (the trimmed text is not empty).
  bool passedAny() const { return passedAny_; }

 private:
  bool fail();
  void pass(std::string_view scalars);

  Sink sink_;
  char partial_[4] = {};  // a sequence begun at the end of the last bytes
  std::size_t partialSize_ = 0;
  std::string held_;  // white space not yet known to be inside the text
  bool started_ = false;
  bool failed_ = false;
  bool passedAny_ = false;
};

}  // namespace quillory::platform
