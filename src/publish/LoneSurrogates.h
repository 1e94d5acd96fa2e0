#pragma once
// Lone UTF-16 surrogate escapes in the export: "\ud83d" without the low half
// that would make it a character, as the JSON writers of JavaScript and
// Python produce from a string cut in the middle of an emoji. JSON's grammar
// allows them; the parser refuses them. So before the parser each one is
// rewritten as the three bytes the surrogate would take in UTF-8 (ED A0..BF
// 80..BF), which never occur in well-formed UTF-8 and so stand for nothing
// else; the parser, told to pass such bytes through, hands them on in the
// strings, and the document gets the same escape back. Since the parser then
// checks no UTF-8, the filter refuses raw bytes that are not well-formed.
//
// Not thread-safe: one per export.

#include <cstddef>
#include <string>
#include <string_view>

namespace quillory::publish {

class LoneSurrogateFilter {
 public:
  // Rewrites the next piece of the export text into `out` (valid until the
  // next call). An escape or a UTF-8 sequence cut by the end of the piece is
  // held back until the next piece completes it. False once the bytes are
  // not well-formed UTF-8.
  bool write(std::string_view piece, std::string_view& out);
  // The bytes held back at the end of the text, rewritten as `write` does;
  // false when they end inside a UTF-8 sequence.
  bool finish(std::string_view& out);
  // Whether any escape has been rewritten so far.
  bool rewroteAny() const { return rewroteAny_; }

 private:
  bool filter(std::string_view text, bool last, std::string_view& out);

  std::string held_;       // the held-back end of the last piece
  std::string joined_;     // the held bytes and the next piece
  std::string rewritten_;  // the piece with its escapes rewritten
  bool rewroteAny_ = false;
};

// Calls `plain` with each run of `text` between surrogates rewritten by the
// filter and `escaped` with each surrogate's escape ("\\ud83d"). Returns how
// many bytes were handed on: all but a rewritten surrogate cut short by the
// end of `text` (at most two bytes), which belongs before the next part.
template <typename Plain, typename Escaped>
std::size_t splitAtSurrogates(std::string_view text, Plain plain, Escaped escaped);

// The text with each rewritten surrogate replaced by U+FFFD, for values read
// rather than copied (a folder path, a currency).
std::string withSurrogatesReplaced(std::string_view text);

// Implementation.

namespace detail {
// Where the next rewritten surrogate starts at or after `from`, and whether
// it is whole; `text.size()` when there is none.
std::size_t nextSurrogate(std::string_view text, std::size_t from, bool& whole);
// The escape of the rewritten surrogate at the start of `bytes` (three bytes).
std::string surrogateEscape(std::string_view bytes);
}  // namespace detail

template <typename Plain, typename Escaped>
std::size_t splitAtSurrogates(std::string_view text, Plain plain, Escaped escaped) {
  std::size_t done = 0;
  while (true) {
    bool whole = false;
    const std::size_t at = detail::nextSurrogate(text, done, whole);
    if (at > done) plain(text.substr(done, at - done));
    if (at == text.size() || !whole) return at;
    escaped(std::string_view(detail::surrogateEscape(text.substr(at, 3))));
    done = at + 3;
  }
}

}  // namespace quillory::publish
