#include <gtest/gtest.h>

#include "publish/Derivations.h"
#include "publish/DocumentTransform.h"
#include "publish/JsonWriter.h"
#include "support/FakeClock.h"

namespace quillory::publish {
namespace {

// The document's members before those the helper sets, for an export whose
// items keep "id" and "title".
std::string copiedMembers(const std::string& exportText) {
  const std::set<std::string> keep{"id", "title"};
  const testing::FakeClock clock;
  const std::string document = prepareExport(exportText, std::string("L"), keep, clock).documentBytes;
  // Fed byte by byte, as a script's output may arrive, it writes the same.
  ExportTransform transform(keep);
  for (const char& byte : exportText) transform.write(std::string_view(&byte, 1));
  if (transform.finish(std::string("L"), clock).documentBytes != document) return "differs in pieces";
  return document.substr(0, document.find(R"(,"libraryName")"));
}

// A kept value as the document carries it: the export's value copied
// through the writer.
std::string written(const std::string& value) {
  const std::string members = copiedMembers(R"({"items":[{"id":)" + value + "}]}");
  const std::string start = R"({"items":[{"id":)";
  if (members.rfind(start, 0) != 0 || !members.ends_with("}]")) return "unexpected: " + members;
  return members.substr(start.size(), members.size() - start.size() - 2);
}

struct WriterCase {
  std::string input;
  std::string expected;
  friend void PrintTo(const WriterCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.input); }
};

class CopiedValueTest : public ::testing::TestWithParam<WriterCase> {};

TEST_P(CopiedValueTest, WritesTheCompactFormWithExactNumbers) {
  EXPECT_EQ(written(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CopiedValueTest,
    ::testing::Values(
        WriterCase{R"({ "a" : [ 1 , true , null , false ] , "b" : { } , "c" : [ ] , "d" : [ { } , [ ] ] })",
                   R"({"a":[1,true,null,false],"b":{},"c":[],"d":[{},[]]})"},
        WriterCase{R"("/Users/a/Lib/assets/x.jpg")", R"("\/Users\/a\/Lib\/assets\/x.jpg")"},
        WriterCase{R"("q\"b\\ \/")", R"("q\"b\\ \/")"},
        WriterCase{R"("\u0000\u0001\b\f\n\r\t\u001f\u007f")", R"("\u0000\u0001\b\f\n\r\t\u001f)"
                                                              "\x7f\""},
        WriterCase{R"("Caf\u00e9 \u20ac \ud83d\ude00 long enough for eight at a time")",
                   "\"Caf\u00e9 \u20ac \U0001F600 long enough for eight at a time\""},
        // Numbers keep their literal, so every value stays exact.
        WriterCase{"2725.16", "2725.16"}, WriterCase{"12.0", "12.0"}, WriterCase{"1e300", "1e300"},
        WriterCase{"1E-7", "1E-7"}, WriterCase{"-0.0", "-0.0"}, WriterCase{"-0", "-0"},
        WriterCase{"[2.5e+10,-12E-3,0.1000000000000000055511151231257827]",
                   "[2.5e+10,-12E-3,0.1000000000000000055511151231257827]"},
        WriterCase{"18446744073709551615", "18446744073709551615"},
        WriterCase{"123456789012345678901234", "123456789012345678901234"},
        WriterCase{"-123456789012345678901234.5678901234567890e-5",
                   "-123456789012345678901234.5678901234567890e-5"},
        WriterCase{"123456789.123456789", "123456789.123456789"}));

TEST(CopiedValues, ARepeatedMemberLeavesOnlyItsLastValue) {
  EXPECT_EQ(copiedMembers(R"({"items":[{"id":1,"title":"t","ocrText":0,"id":2,"title":"u","id":3}]})"),
            R"({"items":[{"title":"u","id":3}])");
  EXPECT_EQ(copiedMembers(R"({"items":[{"id":1,"title":"t"}],"v":1,"items":[{"id":3}],"v":2})"),
            R"({"v":1,"items":[{"id":3}],"v":2)");
  // The members the helper sets never come from the export as well.
  EXPECT_EQ(copiedMembers(
                R"({"libraryName":0,"currencyCode":0,"exportedAt":0,"libraryPath":0,"items":[{"id":1}]})"),
            R"({"items":[{"id":1}])");
  // The parser reads 1e999 as infinity, which JSON cannot carry, unless a
  // repeat takes it out of the document.
  EXPECT_THROW(written("[1e999]"), JsonWriteError);
  EXPECT_THROW(written(R"(1}],"x":[-1e999],"items":[{"id":1)"), JsonWriteError);
  EXPECT_EQ(written(R"(1e999,"id":2)"), "2");
  EXPECT_EQ(written(R"(1e999}],"items":[{"id":3)"), "3");
}

}  // namespace
}  // namespace quillory::publish
