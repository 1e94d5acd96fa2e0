#include <gtest/gtest.h>

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parse.hpp>
#include <cmath>
#include <limits>

#include "publish/JsonWriter.h"

namespace quillory::publish {
namespace {

namespace json = boost::json;

struct WriterCase {
  std::string input;
  std::string expected;
  friend void PrintTo(const WriterCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.input); }
};

class CompactJsonTest : public ::testing::TestWithParam<WriterCase> {};

TEST_P(CompactJsonTest, WritesTheCompactForm) {
  const json::value value = json::parse(GetParam().input);
  const std::string written = toCompactJson(value);
  EXPECT_EQ(written, GetParam().expected);
  const json::value reread = json::parse(written);
  if (value.is_number()) {
    EXPECT_EQ(reread.to_number<double>(), value.to_number<double>());
  } else {
    EXPECT_EQ(reread, value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, CompactJsonTest,
    ::testing::Values(WriterCase{R"({ "a" : [ 1 , true , null , false ] , "b" : { } , "c" : [ ] })",
                                 R"({"a":[1,true,null,false],"b":{},"c":[]})"},
                      WriterCase{R"("/Users/a/Lib/assets/x.jpg")", R"("\/Users\/a\/Lib\/assets\/x.jpg")"},
                      WriterCase{R"("q\"b\\")", R"("q\"b\\")"},
                      WriterCase{R"("\u0000\u0001\b\f\n\r\t\u001f\u007f")", R"("\u0000\u0001\b\f\n\r\t\u001f)"
                                                                            "\x7f\""},
                      WriterCase{R"("Caf\u00e9 \u20ac \ud83d\ude00")", "\"Caf\u00e9 \u20ac \U0001F600\""},
                      WriterCase{"2725.16", "2725.16"}, WriterCase{"12.0", "12"},
                      WriterCase{"1e300", "1e+300"}, WriterCase{"1E-7", "1e-07"},
                      WriterCase{"18446744073709551615", "18446744073709551615"},
                      WriterCase{"123456789.123456789", "123456789.12345678"}));

TEST(CompactJson, NonFiniteNumbersCannotBeWritten) {
  EXPECT_THROW(toCompactJson(json::value(std::numeric_limits<double>::infinity())), JsonWriteError);
  EXPECT_THROW(toCompactJson(json::value(std::nan(""))), JsonWriteError);
}

TEST(CompactJson, DeepNestingDoesNotRecurse) {
  // Deep enough to overflow a thread's stack if the writer recursed.
  constexpr int kDepth = 200000;
  json::monotonic_resource arena;
  json::value root(json::array_kind, &arena);
  json::value* innermost = &root;
  for (int i = 1; i < kDepth; ++i) {
    if (innermost->is_array()) {
      innermost = &innermost->get_array().emplace_back(json::object());
    } else {
      innermost = &(innermost->get_object()["k"] = json::array());
    }
  }
  const std::string written = toCompactJson(root);
  EXPECT_EQ(written.substr(0, 9), "[{\"k\":[{\"");
  EXPECT_EQ(written.size(), std::string_view(written).find_last_not_of("]}") + 1 + kDepth);
}

}  // namespace
}  // namespace quillory::publish
