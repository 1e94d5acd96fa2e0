// The transform from export text to the published document: the values it
// copies, the members it sets, the names it derives, and its limits.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "publish/ContainerPaths.h"
#include "publish/Derivations.h"
#include "publish/DocumentTransform.h"
#include "publish/ExportError.h"
#include "publish/JsonWriter.h"
#include "support/FakeClock.h"
#include "support/SmallStack.h"

namespace quillory::publish {
namespace {

// The export prepared in one piece. Fed byte by byte, as a script's output
// may arrive, and kept in small blocks (every value, cut and replaced member
// crosses a block's end), it writes the same bytes.
PreparedExport prepared(const std::string& exportText, const std::optional<std::string>& name) {
  const testing::FakeClock clock;
  PreparedExport whole = prepareExport(exportText, name, clock);
  for (const std::size_t blockSize : {1, 3, 8}) {
    ExportTransform transform(blockSize);
    for (const char& byte : exportText) transform.write(std::string_view(&byte, 1));
    EXPECT_EQ(transform.finish(name, clock).documentBytes.str(), whole.documentBytes.str()) << blockSize;
  }
  return whole;
}

// A kept value as the document carries it: the export's value copied
// through the writer, before the members the helper sets.
std::string written(const std::string& value) {
  const std::string start = R"({"items":[{"id":)";
  try {
    const std::string document = prepared(start + value + "}]}", std::string("L")).documentBytes.str();
    return document.substr(start.size(), document.find(R"(,"libraryName")") - start.size() - 2);
  } catch (const JsonWriteError&) {
    return "not writable";
  }
}

constexpr const char* kNumbers =
    "[2725.16,12.0,1e300,1E-7,-0.0,-0,2.5e+10,-12E-3,0.1000000000000000055511151231257827,"
    "18446744073709551615,"
    "123456789012345678901234,-123456789012345678901234.5678901234567890e-5,123456789.123456789]";

TEST(CopiedValues, WritesTheCompactFormWithExactNumbers) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({ "a" : [ 1 , true , null , false ] , "b" : { } , "c" : [ ] , "d" : [ { } , [ ] ] })",
       R"({"a":[1,true,null,false],"b":{},"c":[],"d":[{},[]]})"},
      {R"("q\"b\\ \/")", R"("q\"b\\ \/")"},
      {R"("\u0000\u0001\b\f\n\r\t\u001f\u007f")", "\"\\u0000\\u0001\\b\\f\\n\\r\\t\\u001f\x7f\""},
      {R"("Caf\u00e9 \u20ac \ud83d\ude00 long enough for eight at a time")",
       "\"Caf\u00e9 \u20ac \U0001F600 long enough for eight at a time\""},
      // Lone surrogates, in values and keys, are written back escaped.
      {R"({"\uDE00\ud83d":["\ud83d","a\uDE00\\ud83d\ud83d\ude00\udbff"]})",
       "{\"\\ude00\\ud83d\":[\"\\ud83d\",\"a\\ude00\\\\ud83d\U0001F600\\udbff\"]}"},
      // Numbers keep their literal, so every value stays exact.
      {kNumbers, kNumbers},
      // The parser reads 1e999 as infinity, which JSON cannot carry, unless
      // a repeat takes it out of the document.
      {"[1e999]", "not writable"},
      {R"(1}],"x":[-1e999],"items":[{"id":1)", "not writable"},
      {R"(1e999,"id":2)", "2"},
      {R"(1e999}],"items":[{"id":3)", "3"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(written(input), expected) << input;
}

std::optional<ExportErrorCode> failure(const std::string& exportText) {
  try {
    prepared(exportText, std::nullopt);
  } catch (const ExportError& error) {
    return error.code();
  }
  return std::nullopt;
}

// An item with lone surrogates and notes nested `depth` arrays deep.
std::string nestedExport(std::size_t depth) {
  return R"({"items":[{"id":1,"ocrText":"\ud83d","amounts":{"currency":"\udead"},"notes":)" +
         std::string(depth, '[') + std::string(depth, ']') + "}]}";
}

// On a stack as small as a dispatch queue's thread gets, the deepest export
// allowed is read and anything deeper refused.
TEST(DocumentTransform, RefusesWhatIsNotAnExportOfItemsOnASmallStack) {
  testing::onSmallStack([] {
    // As the platform's JSON reader does, a leading byte order mark is passed over.
    EXPECT_EQ(failure("\xEF\xBB\xBF" + nestedExport(kMaxExportDepth - 3)), std::nullopt);
    for (const std::string& text : std::vector<std::string>{
             "not json", R"({"items":[{"id":1}]} x)", R"([{"items":[]}])", R"({"items":{"id":1}})",
             R"({"receipts":[{"id":1}]})", R"({"items":[{"id":1},2]})", "{\"items\":[{\"id\":\"\xff\"}]}",
             "{\"items\":[{\"id\":\"\xed\xa0\xbd\"}]}", nestedExport(kMaxExportDepth - 2),
             nestedExport(1000000), "\xEF\xBB\xBF", "\xEF\xBB{\"items\":[{}]}",
             "\xEF\xBB\xBF\xEF\xBB\xBF{\"items\":[{}]}"})
      EXPECT_EQ(failure(text), ExportErrorCode::parseFailure) << text.substr(0, 40);
    EXPECT_EQ(failure(R"({"items":[]})"), ExportErrorCode::emptyLibrary);
  });
}

TEST(DocumentTransform, KeepsTheKeptMembersAndSetsTheLibrarysOwn) {
  // A repeated member counts with its last value, in the items too; nothing is taken from a replaced one.
  const PreparedExport document =
      prepared(R"({"version":2,"items":[{"id":"gone","asset":{"path":"/Gone/assets/x.pdf"}}],"version":3,
      "libraryName":"Old","libraryPath":"/old","currencyCode":"X","exportedAt":0,"items":[
      {"id":"a","title":"Taxi","ocrText":"drop me","asset":{"path":"/Volumes/D/Biz/assets/1/a.pdf","size":5}},
      {"id":"x","id":"b","amounts":{"currency":"USD","value":2725.16},"Tags":["x"],"tags":["y"]}]})",
               std::string("Business EUR"));
  EXPECT_EQ(document.libraryFilename, "business-eur");
  // The exact text the phone reads: compact, slashes escaped, numbers by
  // their literal, the helper's own members after the copied ones, each once.
  EXPECT_EQ(document.documentBytes.str(),
            R"({"version":2,"version":3,"items":[{"id":"a","title":"Taxi","asset":)"
            R"({"path":"\/Volumes\/D\/Biz\/assets\/1\/a.pdf","size":5}},)"
            R"({"id":"b","amounts":{"currency":"USD","value":2725.16},"tags":["y"]}],)"
            R"("libraryName":"Business EUR","currencyCode":"EUR","exportedAt":"2026-12-05T09:00:00Z",)"
            R"("libraryPath":"\/Volumes\/D\/Biz"})");
  // (That the marker holds exportedAt, no more: the checker of the promises.)
}

TEST(DocumentTransform, NamesTheLibraryFromTheFolderOrTheCurrency) {
  // What is tried; the confirmed name; the export; file name|libraryName|currencyCode|libraryPath as
  // published.
  const std::tuple<const char*, std::optional<std::string>, std::string, std::string> cases[] = {
      {"no name: the currency", std::nullopt,
       R"({"items":[{"amounts":{"currency":"gbp"}}],
           "items":[{"asset":{"path":"/Users/a/Lib/x.jpg"},"amounts":{"currency":"chf"}}]})",
       "receipts-chf|receipts-chf|CHF|"},
      {"a confirmed name without a folder", "Home", R"({"items":[{"asset":{"path":"/assets/x.jpg"}}]})",
       "home-export|Home|EXPORT|"},
      // Original amounts of all items before any other amounts, and the first
      // item whose asset path names an "/assets/" folder.
      {"currency from the items' original amounts first", std::nullopt,
       R"({"items":[{"amounts":{"currency":"EUR"}},{"amountsOriginal":{"currency":""}},
                    {"amountsOriginal":{"currency":"Usd"}}]})",
       "receipts-usd|receipts-usd|USD|"},
      {"the first usable asset path", std::nullopt,
       R"({"items":[{"asset":"/a/assets/y.jpg"},{"asset":{"path":3}},{"asset":{"path":"/U/Other/y.jpg"}},
                    {"asset":{"path":"/U/Assets/assets/one/assets/y.jpg"}},{"asset":{"path":"/U/L/assets/z"}}]})",
       "assets-export|Assets|EXPORT|/U/Assets"},
  };
  for (const auto& [what, confirmedName, exportText, expected] : cases) {
    const PreparedExport document = prepared(exportText, confirmedName);
    const boost::json::object published = boost::json::parse(document.documentBytes.str()).as_object();
    std::string seen = document.libraryFilename;
    for (const char* key : {"libraryName", "currencyCode", "libraryPath"})
      seen += "|" + std::string(published.at(key).as_string());
    EXPECT_EQ(seen, expected) << what;
  }
}

std::string repeated(std::string_view text, std::size_t times) {
  return times == 0 ? "" : std::string(text) + repeated(text, times - 1);
}

TEST(LibraryFilename, BuildsTheBaseName) {
  const std::string acute = "\u0301";  // a combining mark, two bytes
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"EUR Business", "eur", "eur-business-eur"},
      {"Home & Garden", "chf", "home--garden-chf"},
      {"EUR", "eur", "receipts-eur"},
      // Only one suffix is removed, and only after trimming.
      {"Trip EUR EUR", "eur", "trip-eur-eur"},
      {"_Reise-EUR_", "EUR", "reise-eur"},
      // Full case mapping and the file-name character filter.
      {"Stra\u00dfe \u20ac", "\u20ac", "stra\u00dfe-\u20ac"},
      {"a\tb/c\u0663\u2160\U0001F600", "gbp", "abc\u0663\u2170-gbp"},  // numbers kept, a symbol (So) not
      // A currency token from the items never leaves the folder:
      // no "/" or NUL, never "." or "..".
      {"Home", "../../x", "home-....x"},
      {"", std::string("e\0u\n\x7f/r", 7), "receipts-eur"},
      // Nor control or bidirectional formatting characters.
      {"Finch", "\u202eRUE\u200b\u0085\u200e\u200f\u202a\u2066\u2069", "finch-rue\u200b"},
      {"Finch", "\n", "finch-export"},
      {"", "...", "receipts-..."},
      // Too long for a file name with "_updated.txt": cut after the
      // last whole character that fits, never inside one.
      {repeated("\u65E5", 90), "eur", repeated("\u65E5", 79) + "-eur"},
      {std::string(237, 'a') + " e" + acute + "x", "eur", std::string(237, 'a') + "-eur"},
      {"e" + repeated(acute, 150), "eur", "e" + repeated(acute, 119) + "-eur"},
      {std::string(300, 'n'), std::string(300, 'c'), "receipts-" + std::string(234, 'c')}};
  for (const auto& [name, currency, expected] : cases)
    EXPECT_EQ(libraryFilename(name, currency), expected) << name;
  for (const char* currency : {"/", ".", ".."}) EXPECT_EQ(libraryFilename("", currency), "receipts-export");
  EXPECT_EQ(markerNameFor("a.json.json"), "a.json_updated.txt");  // only the last ending is replaced
  // The currency-named pair needs a plain name of that kind.
  EXPECT_EQ(currencyPairName("home-eur_\u20ac\u00e9"), std::nullopt);  // the euro sign is a symbol
  EXPECT_EQ(currencyPairName("home-eur_\u00e9"), "home-eur_\u00e9");
  for (const std::string& token :
       std::vector<std::string>{"e\x1b[2Jur", "eur\n", "e.ur", "e\xffur", "e/ur", "", std::string(244, 'e')})
    EXPECT_EQ(currencyPairName(token), std::nullopt) << token;
}

}  // namespace
}  // namespace quillory::publish
