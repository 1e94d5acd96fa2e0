// The transform from export text to the published document: the values it
// copies, the members it sets, the names it derives, and its limits.

#include <gtest/gtest.h>

#include "publish/Derivations.h"
#include "publish/DocumentTransform.h"
#include "publish/ExportError.h"
#include "publish/JsonWriter.h"
#include "support/FakeClock.h"
#include "support/SmallStack.h"

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

constexpr const char* kNumbers =
    "[2725.16,12.0,1e300,1E-7,-0.0,-0,2.5e+10,-12E-3,0.1000000000000000055511151231257827,"
    "18446744073709551615,"
    "123456789012345678901234,-123456789012345678901234.5678901234567890e-5,123456789.123456789]";

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
        WriterCase{"-0.0", "-0.0"}, WriterCase{kNumbers, kNumbers}));

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

const std::set<std::string> kKeep(kKeptItemFields.begin(), kKeptItemFields.end());

std::string nestedExport(std::size_t depth) {
  return R"({"items":[{"id":1,"notes":)" + std::string(depth, '[') + std::string(depth, ']') + "}]}";
}

TEST(DocumentTransform, DeepExportsFitASmallStack) {
  testing::FakeClock clock;
  std::optional<ExportErrorCode> deepest;
  std::size_t acceptedSize = 0;
  testing::onSmallStack([&] {
    acceptedSize =
        prepareExport(nestedExport(kMaxExportDepth - 3), std::nullopt, kKeep, clock).documentBytes.size();
    try {
      prepareExport(nestedExport(kMaxExportDepth - 2), std::nullopt, kKeep, clock);
    } catch (const ExportError& error) {
      deepest = error.code();
    }
  });
  EXPECT_GT(acceptedSize, 2 * (kMaxExportDepth - 3));
  EXPECT_EQ(deepest, ExportErrorCode::parseFailure);
}

struct FilenameCase {
  std::string name;
  std::string currency;
  std::string expected;
};

TEST(LibraryFilename, BuildsTheBaseName) {
  const FilenameCase cases[] = {{"Business EUR", "eur", "business-eur"},
                                {"Firma_sek", "sek", "firma-sek"},
                                {"EUR Business", "eur", "eur-business-eur"},
                                {"Home & Garden", "chf", "home--garden-chf"},
                                {"Caf\u00e9.Privat", "eur", "caf\u00e9privat-eur"},
                                {"EUR", "eur", "receipts-eur"},
                                {"chf", "chf", "receipts-chf"},
                                {"export", "export", "receipts-export"},
                                {"---", "usd", "receipts-usd"},
                                // Only one suffix is removed, and only after trimming.
                                {"Trip EUR EUR", "eur", "trip-eur-eur"},
                                {"_Reise-EUR_", "EUR", "reise-eur"},
                                // Full case mapping and the file-name character filter.
                                {"Stra\u00dfe \u20ac", "\u20ac", "stra\u00dfe-\u20ac"},
                                {"a\tb/c", "gbp", "abc-gbp"},
                                // A currency token from the items never leaves the folder:
                                // no "/" or NUL, never "." or "..".
                                {"Home", "../../x", "home-....x"},
                                {"", std::string("e\0u/r", 5), "receipts-eur"},
                                {"", "/", "receipts-export"},
                                {"", ".", "receipts-export"},
                                {"", "..", "receipts-export"},
                                {"", "...", "receipts-..."}};
  for (const FilenameCase& c : cases) EXPECT_EQ(libraryFilename(c.name, c.currency), c.expected) << c.name;
}

TEST(CurrencyFromName, FirstKnownCodeInListOrderWins) {
  EXPECT_EQ(currencyFromName("Trip to CHF and GBP"), "gbp");
  EXPECT_EQ(currencyFromName("Haus Mausdorf"), "usd");
  EXPECT_EQ(currencyFromName("business eur"), "eur");
  EXPECT_EQ(currencyFromName("AUD EUR"), "aud");
  EXPECT_EQ(currencyFromName("Household"), std::nullopt);
  EXPECT_EQ(currencyFromName(std::nullopt), std::nullopt);
}

TEST(LibraryNameFromPath, IsTheLastComponent) {
  EXPECT_EQ(libraryNameFromPath("/Users/a/Libraries/Home"), "Home");
  EXPECT_EQ(libraryNameFromPath("/Volumes/D/Biz/"), "Biz");
  EXPECT_EQ(libraryNameFromPath("Relative"), "Relative");
  EXPECT_EQ(libraryNameFromPath("/"), std::nullopt);
  EXPECT_EQ(libraryNameFromPath(""), std::nullopt);
}

}  // namespace
}  // namespace quillory::publish
