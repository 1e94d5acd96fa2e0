#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/Unicode.h"

namespace quillory::platform {
namespace {

const std::string kDecomposedE = "Cafe\xCC\x81";  // e + U+0301

// (Canonical equality itself, the name tests of the libraries and the engine
// check.)
TEST(UnicodeTest, SortsByCodePointsOfTheComposedTexts) {
  std::vector<std::string> names = {"b", "a", "A", "\U0001F600", "\uFF21", kDecomposedE, "Caff"};
  std::sort(names.begin(), names.end(), canonicallyLess);
  // U+FF21 before U+1F600: code-point order, not UTF-16 order; e + U+0301
  // sorts as é, after "Caff".
  EXPECT_EQ(names, (std::vector<std::string>{"A", "Caff", kDecomposedE, "a", "b", "\uFF21", "\U0001F600"}));
}

TEST(UnicodeTest, TrimsWhiteSpaceAndNewlinesAtBothEnds) {
  for (const auto& [input, expected] : std::vector<std::pair<std::string, std::string>>{
           {"\t\v\f\r\n x y \n", "x y"},
           {"\u0085a\u00A0", "a"},                                 // NEL, no-break space (Zs)
           {"\u2028 a\u2028\u00A0 b\u2029\n", "a\u2028\u00A0 b"},  // inner white space kept
           {"\u200Ba", "\u200Ba"},                                 // zero-width space is Cf: kept
           {std::string("\0a", 2), std::string("\0a", 2)},         // NUL is a control, not space
           // Ill-formed bytes at the ends are kept: a stray continuation byte,
           // a truncated sequence, a stray byte after a NEL.
           {" \xE2\x80\xA8\xA8\xE2\x80\xA8 ", "\xA8"},
           {"\xE2\x80\xE2\x80\xA8", "\xE2\x80"},
           {"a\xC2\x85\x80", "a\xC2\x85\x80"}}) {
    EXPECT_EQ(trimmedWhitespaceAndNewlines(input), expected) << input;
    // In two pieces, split anywhere, the second given byte by byte: the same
    // text, or a failure for ill-formed bytes.
    for (std::size_t split = 0; split <= input.size(); ++split) {
      std::string streamed;
      TrimmedUtf8Stream stream([&streamed](std::string_view piece) { streamed += piece; });
      stream.write(input.substr(0, split));
      for (std::size_t i = split; i < input.size(); ++i) stream.write(input.substr(i, 1));
      EXPECT_EQ(stream.finish(), isValidUtf8(input)) << input;
      if (!isValidUtf8(input)) continue;
      EXPECT_EQ(streamed, expected) << input << " split at " << split;
    }
  }
}

TEST(UnicodeTest, ValidatesUtf8AndNeverCrashesOnIllFormedInput) {
  const std::string ascii(15, 'a');  // bad bytes also at the end of a 16-byte run and after it
  EXPECT_TRUE(isValidUtf8(std::string("a\0b", 3) + ascii + "\u00E9\u20AC\U0001F600" + ascii + ascii));
  for (const std::string& bad : std::vector<std::string>{
           "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",  // truncated, overlong,
           "\xE0\x9F\xBF", "\xF5\x80\x80\x80", "\xE2\x82",          // surrogate, too large
           ascii + "\xFF", ascii + "a\xFF", ascii + ascii + "\xC3"})
    EXPECT_FALSE(isValidUtf8(bad)) << bad;
  const std::string bad = std::string("\xFF\xFE") + "a\xC3";
  // Ill-formed bytes read as replacement characters.
  EXPECT_EQ(upperCased(bad), std::string("\xEF\xBF\xBD\xEF\xBF\xBD") + "A\xEF\xBF\xBD");
  EXPECT_TRUE(isValidUtf8(lowerCased(bad)) && isValidUtf8(composed(bad)));
}

}  // namespace
}  // namespace quillory::platform
