#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Unicode.h"

namespace quillory::platform {
namespace {

const std::string kComposedE = "Caf\xC3\xA9";     // é as U+00E9
const std::string kDecomposedE = "Cafe\xCC\x81";  // e + U+0301

TEST(UnicodeTest, CaseMappingIsFullAndLocaleIndependent) {
  EXPECT_EQ(upperCased("stra\xC3\x9F"
                       "e"),
            "STRASSE");                           // ß → SS
  EXPECT_EQ(upperCased("istanbul"), "ISTANBUL");  // no Turkish dotted I
  EXPECT_EQ(lowerCased("\xC3\x89T\xC3\x89"), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(upperCased(""), "");
}

TEST(UnicodeTest, ComposedAndDecomposedFormsAreCanonicallyEqual) {
  EXPECT_NE(kComposedE, kDecomposedE);
  EXPECT_TRUE(canonicallyEqual(kComposedE, kDecomposedE));
  EXPECT_EQ(composed(kDecomposedE), kComposedE);
  EXPECT_FALSE(canonicallyEqual("cafe", "Cafe"));  // case matters
  EXPECT_FALSE(canonicallyLess(kComposedE, kDecomposedE));
  EXPECT_FALSE(canonicallyLess(kDecomposedE, kComposedE));
}

TEST(UnicodeTest, OrderingIsByCodePoint) {
  std::vector<std::string> names = {"b", "a", "A", "\xF0\x9F\x98\x80",
                                    "\xEF\xBC\xA1"};  // 😀 U+1F600, Ａ U+FF21
  std::sort(names.begin(), names.end(), canonicallyLess);
  // A U+FF21 before U+1F600: code-point order, not UTF-16 order.
  EXPECT_EQ(names, (std::vector<std::string>{"A", "a", "b", "\xEF\xBC\xA1", "\xF0\x9F\x98\x80"}));
}

struct FilenameCase {
  std::string input;
  std::string expected;
};

class FilenameCharactersTest : public ::testing::TestWithParam<FilenameCase> {};

TEST_P(FilenameCharactersTest, KeepsLettersMarksNumbersDashAndUnderscore) {
  EXPECT_EQ(filenameCharactersOnly(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilenameCharactersTest,
    ::testing::Values(FilenameCase{"Caf\xC3\xA9.Privat", "Caf\xC3\xA9Privat"},
                      FilenameCase{kDecomposedE, kDecomposedE},  // the combining mark (M) stays
                      FilenameCase{"My Library 2024/25", "MyLibrary202425"},
                      FilenameCase{"a-b_c!@#", "a-b_c"},
                      FilenameCase{"\xD9\xA3\xE2\x85\xA0",
                                   "\xD9\xA3\xE2\x85\xA0"},    // Arabic-Indic 3, Roman numeral I
                      FilenameCase{"\xF0\x9F\x98\x80x", "x"},  // emoji (So) dropped
                      FilenameCase{"ab\xFF\xC3"
                                   "cd",
                                   "abcd"},  // ill-formed bytes dropped
                      FilenameCase{"", ""}));

TEST(UnicodeTest, ValidatesUtf8) {
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8(kComposedE));
  EXPECT_TRUE(isValidUtf8(std::string("a\0b", 3)));
  EXPECT_FALSE(isValidUtf8("\xC3"));              // truncated
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(isValidUtf8("ok\xFF"));
}

TEST(UnicodeTest, InvalidUtf8NeverCrashesAndBecomesReplacementCharacter) {
  const std::string bad =
      "\xFF\xFE"
      "a\xC3";
  EXPECT_EQ(upperCased(bad),
            "\xEF\xBF\xBD\xEF\xBF\xBD"
            "A\xEF\xBF\xBD");
  EXPECT_TRUE(isValidUtf8(lowerCased(bad)));
  EXPECT_TRUE(isValidUtf8(composed(bad)));
  EXPECT_EQ(trimmedWhitespaceAndNewlines(" \xFF "), "\xFF");
}

struct TrimCase {
  std::string input;
  std::string expected;
};

class TrimTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimTest, RemovesWhiteSpaceAndNewlinesAtBothEnds) {
  EXPECT_EQ(trimmedWhitespaceAndNewlines(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TrimTest,
                         ::testing::Values(TrimCase{"  ok\n", "ok"}, TrimCase{"", ""}, TrimCase{"\n", ""},
                                           TrimCase{"\t\v\f\r\n x y \n", "x y"},
                                           TrimCase{"\xC2\x85"
                                                    "a\xC2\xA0",
                                                    "a"},  // NEL, no-break space (Zs)
                                           TrimCase{"\xE2\x80\xA8"
                                                    "a\xE2\x80\xA9",
                                                    "a"},  // line and paragraph separators
                                           TrimCase{"\xE3\x80\x80"
                                                    "a\xE2\x80\x83",
                                                    "a"},  // ideographic space, em space
                                           TrimCase{"\xE2\x80\x8B"
                                                    "a",
                                                    "\xE2\x80\x8B"
                                                    "a"},  // zero-width space is Cf: kept
                                           TrimCase{std::string("\0a", 2), std::string("\0a", 2)}
                                           // NUL is a control, not space
                                           ));

}  // namespace
}  // namespace quillory::platform
