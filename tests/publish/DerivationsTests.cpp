#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "publish/Derivations.h"

namespace quillory::publish {
namespace {

namespace json = boost::json;

json::array items(std::string_view text) { return json::parse(text).as_array(); }

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
                                // A currency token from the items never leaves the folder.
                                {"Home", "../../x", "home-....x"},
                                {"", "/", "receipts-export"},
                                {"", "..", "receipts-export"}};
  for (const FilenameCase& c : cases) EXPECT_EQ(libraryFilename(c.name, c.currency), c.expected) << c.name;
}

TEST(CurrencyFileComponent, IsASafeFileNamePart) {
  const std::pair<std::string, std::string> cases[] = {{"eur", "eur"},
                                                       {"\u20ac", "\u20ac"},
                                                       {"../../x", "....x"},
                                                       {"a/b", "ab"},
                                                       {std::string("e\0u/r", 5), "eur"},
                                                       {".", "export"},
                                                       {"..", "export"},
                                                       {"...", "..."},
                                                       {"", "export"}};
  for (const auto& [token, expected] : cases) {
    const std::string safe = currencyFileComponent(token);
    EXPECT_EQ(safe, expected) << token;
    EXPECT_EQ(safe.find('/'), std::string::npos);
    EXPECT_EQ(safe.find('\0'), std::string::npos);
  }
}

TEST(CurrencyFromName, FirstKnownCodeInListOrderWins) {
  EXPECT_EQ(currencyFromName("Trip to CHF and GBP"), "gbp");
  EXPECT_EQ(currencyFromName("Haus Mausdorf"), "usd");
  EXPECT_EQ(currencyFromName("business eur"), "eur");
  EXPECT_EQ(currencyFromName("AUD EUR"), "aud");
  EXPECT_EQ(currencyFromName("Household"), std::nullopt);
  EXPECT_EQ(currencyFromName(std::nullopt), std::nullopt);
}

TEST(CurrencyFromItems, OriginalAmountsOfAllItemsComeFirst) {
  EXPECT_EQ(
      currencyFromItems(items(R"([{"amounts":{"currency":"EUR"}},{"amountsOriginal":{"currency":"USD"}}])")),
      "usd");
  EXPECT_EQ(currencyFromItems(items(
                R"([{"amountsOriginal":{"currency":""},"amounts":{"currency":"CHF"}},
                                        {"amountsOriginal":{"currency":"NOK"}}])")),
            "nok");
  EXPECT_EQ(
      currencyFromItems(items(R"([{"amountsOriginal":{"currency":""}},{"amounts":{"currency":"Chf"}}])")),
      "chf");
  // Any non-empty string is taken, known code or not.
  EXPECT_EQ(currencyFromItems(items(R"([{"amounts":{"currency":"BTC"}}])")), "btc");
  EXPECT_EQ(
      currencyFromItems(items(R"([{"amounts":"EUR"},{"amounts":{"currency":7}},{"amountsOriginal":[]}])")),
      std::nullopt);
  EXPECT_EQ(currencyFromItems(items("[]")), std::nullopt);
}

TEST(LibraryPathFromItems, TakesTheFirstItemWithAnAssetsPath) {
  EXPECT_EQ(libraryPathFromItems(items(R"([{"asset":{"path":"/Users/a/Lib/assets/x/y.jpg"}}])")),
            "/Users/a/Lib");
  EXPECT_EQ(libraryPathFromItems(items(R"([{"asset":"/Users/a/Lib/assets/y.jpg"},
                                           {"asset":{"path":3}},
                                           {"asset":{"path":"/Users/a/Other/y.jpg"}},
                                           {"asset":{"path":"/Users/a/Assets/assets/one/assets/y.jpg"}}])")),
            "/Users/a/Assets");
  // An empty path before "/assets/" still ends the search.
  EXPECT_EQ(libraryPathFromItems(items(R"([{"asset":{"path":"/assets/y.jpg"}},
                                           {"asset":{"path":"/Users/a/Lib/assets/y.jpg"}}])")),
            "");
  EXPECT_EQ(libraryPathFromItems(items(R"([{"asset":{"path":"/Users/a/Lib/Assets/y.jpg"}},{}])")),
            std::nullopt);
}

TEST(LibraryNameFromPath, IsTheLastComponent) {
  EXPECT_EQ(libraryNameFromPath("/Users/a/Libraries/Home"), "Home");
  EXPECT_EQ(libraryNameFromPath("/Volumes/D/Biz/"), "Biz");
  EXPECT_EQ(libraryNameFromPath("Relative"), "Relative");
  EXPECT_EQ(libraryNameFromPath("/"), std::nullopt);
  EXPECT_EQ(libraryNameFromPath(""), std::nullopt);
}

TEST(FilterItem, KeepsExactNamesOnly) {
  const std::set<std::string> keep(kKeptItemFields.begin(), kKeptItemFields.end());
  const json::object item = json::parse(
                                R"({"id":"r1","title":"Lunch","ocrText":"long text","Tags":["x"],
                                            "amounts":{"currency":"EUR","net":[1,2]}})")
                                .as_object();
  const json::object filtered = filterItem(item, keep);
  EXPECT_EQ(filtered, json::parse(R"({"id":"r1","title":"Lunch","amounts":{"currency":"EUR","net":[1,2]}})"));
  EXPECT_EQ(filterItem(item, {}), json::object());
}

}  // namespace
}  // namespace quillory::publish
